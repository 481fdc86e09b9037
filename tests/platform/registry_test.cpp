#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/files.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using Names = std::vector<std::string>;

// Rows of a one-column query, read through a second connection.
Names Query(const std::string& db_path, const char* sql) {
  sqlite3* db = nullptr;
  Names out;
  if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

class RegistryTest : public ::testing::Test {
 protected:
  std::string Value(const std::string& key, const std::string& name) {
    auto v = reg.QueryValue(key, name);
    return v ? v->data : "<absent>";
  }

  testing::TempDir dir;
  std::string db = dir / "registry.db";
  Registry reg{db};
};

TEST_F(RegistryTest, NewStoreHasSchemaAndOwnerOnlyMode) {
  EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            (Names{"reg_keys", "reg_values"}));
  EXPECT_EQ(Query(db, "SELECT name FROM pragma_table_info('reg_keys') ORDER BY cid"),
            Names{"path"});
  EXPECT_EQ(Query(db, "SELECT name FROM pragma_table_info('reg_values') ORDER BY cid"),
            (Names{"key", "name", "type", "data"}));
  struct stat st;
  ASSERT_EQ(stat(db.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, ValuesAreTypedBytesUnderCaseBlindNames) {
  const std::string bin("\x00\xFF\x01\r\n", 5);
  ASSERT_TRUE(reg.SetValue("Top\\Mid\\Leaf", "Data", kRegBinary, bin));
  EXPECT_EQ(Query(db, "SELECT path FROM reg_keys ORDER BY path"),
            (Names{"Top", "Top\\Mid", "Top\\Mid\\Leaf"}));

  auto v = reg.QueryValue("TOP\\mid\\LEAF", "dATA");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, kRegBinary);
  EXPECT_EQ(v->data, bin);
  EXPECT_TRUE(reg.KeyExists("top\\MID"));

  // Writing under another spelling replaces the one value.
  ASSERT_TRUE(reg.SetValue("top\\mid\\leaf", "DATA", kRegDword, std::string("\x05\0\0\0", 4)));
  EXPECT_EQ(reg.ValueNames("Top\\Mid\\Leaf").size(), 1u);
  EXPECT_EQ(reg.QueryValue("Top\\Mid\\Leaf", "Data")->type, kRegDword);

  ASSERT_TRUE(reg.SetValue("Top\\Mid\\Leaf", "Other", kRegSz, std::string("x\0", 2)));
  ASSERT_TRUE(reg.DeleteValue("Top\\Mid\\Leaf", "data"));
  EXPECT_EQ(reg.QueryValue("Top\\Mid\\Leaf", "Data"), std::nullopt);
  EXPECT_EQ(reg.ValueNames("Top\\Mid\\Leaf"), Names{"Other"});
  EXPECT_TRUE(reg.KeyExists("Top\\Mid\\Leaf"));
}

TEST_F(RegistryTest, DeleteKeyTakesSubtreeOnly) {
  reg.SetValue("A\\B", "v", kRegSz, "1");
  reg.SetValue("A\\B\\C\\D", "v", kRegSz, "2");
  reg.SetValue("A\\BC", "v", kRegSz, "3");
  reg.SetValue("A\\B2", "v", kRegSz, "4");
  reg.CreateKey("A\\B\\E");
  EXPECT_EQ(reg.SubKeys("A"), (Names{"B", "B2", "BC"}));
  EXPECT_EQ(reg.SubKeys("a\\b"), (Names{"C", "E"}));
  EXPECT_EQ(reg.SubKeys("A\\B\\E"), Names{});

  ASSERT_TRUE(reg.DeleteKey("a\\b"));
  EXPECT_FALSE(reg.KeyExists("A\\B"));
  EXPECT_FALSE(reg.KeyExists("A\\B\\C\\D"));
  EXPECT_EQ(Value("A\\B\\C\\D", "v"), "<absent>");
  EXPECT_EQ(Value("A\\BC", "v"), "3");
  EXPECT_EQ(Value("A\\B2", "v"), "4");
  EXPECT_EQ(reg.SubKeys("A"), (Names{"B2", "BC"}));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM reg_values WHERE key LIKE 'A\\B\\%'"), Names{"0"});
}

TEST_F(RegistryTest, RestoreKeyBringsBackTheSavedSubtree) {
  reg.SetValue("S\\Cfg", "keep", kRegSz, "old");
  reg.SetValue("S\\Cfg\\Sub", "gone", kRegBinary, std::string("\0\1", 2));
  reg.SetValue("S\\CfgX", "sib", kRegSz, "sib");
  const std::string file = dir / "cfg.bak";
  ASSERT_TRUE(reg.SaveKey("S\\Cfg", file));
  EXPECT_FALSE(FileExists(file + ".tmp"));

  reg.SetValue("S\\Cfg", "keep", kRegSz, "changed");
  reg.SetValue("S\\Cfg", "added", kRegSz, "new");
  reg.SetValue("S\\Cfg\\NewSub", "n", kRegSz, "n");
  reg.DeleteKey("S\\Cfg\\Sub");
  reg.SetValue("S\\CfgX", "sib", kRegSz, "sib2");

  ASSERT_TRUE(reg.RestoreKey("S\\Cfg", file));
  EXPECT_EQ(Value("S\\Cfg", "keep"), "old");
  EXPECT_EQ(Value("S\\Cfg", "added"), "<absent>");
  EXPECT_EQ(Value("S\\Cfg\\Sub", "gone"), std::string("\0\1", 2));
  EXPECT_EQ(reg.SubKeys("S\\Cfg"), Names{"Sub"});
  EXPECT_EQ(Value("S\\CfgX", "sib"), "sib2");

  // Into another key: the saved paths move under it.
  ASSERT_TRUE(reg.RestoreKey("T\\Copy\\Here", file));
  EXPECT_EQ(Value("T\\Copy\\Here", "keep"), "old");
  EXPECT_EQ(Value("T\\Copy\\Here\\Sub", "gone"), std::string("\0\1", 2));
  EXPECT_TRUE(reg.KeyExists("T\\Copy"));
  EXPECT_EQ(Query(db, "SELECT count(*) FROM reg_keys WHERE path LIKE 'T\\%'"), Names{"3"});
  EXPECT_EQ(Query(db, "SELECT count(*) FROM reg_values WHERE key LIKE 'T\\%'"), Names{"2"});
}

TEST_F(RegistryTest, SaveKeyReplacesAnExistingFile) {
  reg.SetValue("One", "a", kRegSz, "1");
  reg.SetValue("Two\\Sub", "b", kRegSz, "2");
  const std::string file = dir / "key.bak";
  ASSERT_TRUE(reg.SaveKey("One", file));
  ASSERT_TRUE(reg.SaveKey("Two", file));
  ASSERT_TRUE(reg.RestoreKey("Dest", file));
  EXPECT_EQ(Value("Dest", "a"), "<absent>");
  EXPECT_EQ(Value("Dest\\Sub", "b"), "2");
  EXPECT_FALSE(reg.SaveKey("Missing", dir / "missing.bak"));
  EXPECT_FALSE(FileExists(dir / "missing.bak"));
}

TEST_F(RegistryTest, RestoreKeyOfBadFileChangesNothing) {
  reg.SetValue("K", "v", kRegSz, "1");
  reg.SetValue("K\\Sub", "w", kRegSz, "2");
  EXPECT_FALSE(reg.RestoreKey("K", dir / "nothing.bak"));
  std::ofstream(dir / "garbage.bak") << std::string(2048, 'g');
  EXPECT_FALSE(reg.RestoreKey("K", dir / "garbage.bak"));
  EXPECT_EQ(Value("K", "v"), "1");
  EXPECT_EQ(Value("K\\Sub", "w"), "2");
  EXPECT_EQ(reg.SubKeys("K"), Names{"Sub"});
}

TEST(RegistryOpenTest, NonSqliteFileThrows) {
  testing::TempDir dir;
  std::ofstream(dir / "registry.db") << "this is not a settings store\n" << std::string(4096, 'x');
  EXPECT_THROW(Registry reg(dir / "registry.db"), RegistryError);
  EXPECT_THROW(Registry reg(dir / "no/such/folder/registry.db"), RegistryError);
}

}  // namespace
}  // namespace heron
