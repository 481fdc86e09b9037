#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/files.h"
#include "tests/platform/temp_dir.h"

namespace heron {
namespace {

using Names = std::vector<std::string>;

// First column of a query's rows, read through a second connection.
Names Query(const std::string& db_path, const char* sql) {
  sqlite3* db = nullptr;
  Names out;
  sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  auto row = [](void* rows, int, char** cols, char**) {
    static_cast<Names*>(rows)->emplace_back(cols[0] ? cols[0] : "");
    return 0;
  };
  sqlite3_exec(db, sql, row, &out, nullptr);
  sqlite3_close(db);
  return out;
}

class RegistryTest : public ::testing::Test {
 protected:
  std::string Value(const std::string& key, const std::string& name) {
    auto v = reg.QueryValue(key, name);
    return v ? v->data : "<absent>";
  }
  void Put(const std::string& key, const std::string& name, const std::string& data) {
    ASSERT_TRUE(reg.SetValue(key, name, kRegSz, data));
  }

  testing::TempDir dir;
  std::string db = dir / "registry.db";
  Registry reg{db};
};

TEST_F(RegistryTest, NewStoreHasSchemaAndOwnerOnlyMode) {
  EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            (Names{"reg_keys", "reg_values"}));
  EXPECT_EQ(Query(db, "SELECT name FROM pragma_table_info('reg_keys')"), Names{"path"});
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

  // Another spelling names the same value.
  ASSERT_TRUE(reg.SetValue("top\\mid\\leaf", "DATA", kRegDword, std::string("\x05\0\0\0", 4)));
  EXPECT_EQ(reg.QueryValue("Top\\Mid\\Leaf", "Data")->type, kRegDword);
  Put("Top\\Mid\\Leaf", "Other", "x");
  ASSERT_TRUE(reg.DeleteValue("Top\\Mid\\Leaf", "data"));
  EXPECT_EQ(reg.ValueNames("Top\\Mid\\Leaf"), Names{"Other"});
  EXPECT_TRUE(reg.KeyExists("top\\MID\\leaf"));
}

TEST_F(RegistryTest, DeleteKeyTakesSubtreeOnly) {
  Put("A\\B", "v", "1");
  Put("A\\B\\C\\D", "v", "2");
  Put("A\\BC", "v", "3");
  Put("A\\B2", "v", "4");
  reg.CreateKey("A\\B\\E");
  EXPECT_EQ(reg.SubKeys("A"), (Names{"B", "B2", "BC"}));
  EXPECT_EQ(reg.SubKeys("a\\b"), (Names{"C", "E"}));

  ASSERT_TRUE(reg.DeleteKey("a\\b"));  // another spelling takes the children too
  EXPECT_FALSE(reg.KeyExists("A\\B\\C\\D"));
  EXPECT_EQ(reg.SubKeys("A"), (Names{"B2", "BC"}));
  EXPECT_EQ(Query(db, "SELECT key FROM reg_values ORDER BY key"), (Names{"A\\B2", "A\\BC"}));
}

TEST_F(RegistryTest, RestoreKeyBringsBackTheSavedSubtree) {
  Put("S\\Cfg", "keep", "old");
  Put("S\\Cfg\\Sub", "gone", "sub");
  Put("S\\CfgX", "sib", "sib");
  const std::string file = dir / "cfg.bak";
  ASSERT_TRUE(reg.SaveKey("S\\Cfg", file));
  EXPECT_FALSE(FileExists(file + ".tmp"));

  Put("S\\Cfg", "keep", "changed");
  Put("S\\Cfg", "added", "new");
  Put("S\\Cfg\\NewSub", "n", "n");
  reg.DeleteKey("S\\Cfg\\Sub");
  Put("S\\CfgX", "sib", "sib2");
  ASSERT_TRUE(reg.RestoreKey("S\\Cfg", file));
  EXPECT_EQ(Value("S\\Cfg", "keep"), "old");
  EXPECT_EQ(Value("S\\Cfg", "added"), "<absent>");
  EXPECT_EQ(Value("S\\Cfg\\Sub", "gone"), "sub");
  EXPECT_EQ(reg.SubKeys("S\\Cfg"), Names{"Sub"});
  EXPECT_EQ(Value("S\\CfgX", "sib"), "sib2");

  // Into another key: the saved paths move under it.
  ASSERT_TRUE(reg.RestoreKey("T\\Copy\\Here", file));
  EXPECT_EQ(Query(db, "SELECT path FROM reg_keys WHERE path LIKE 'T%' ORDER BY path"),
            (Names{"T", "T\\Copy", "T\\Copy\\Here", "T\\Copy\\Here\\Sub"}));
  EXPECT_EQ(Value("T\\Copy\\Here", "keep"), "old");
  EXPECT_EQ(Value("T\\Copy\\Here\\Sub", "gone"), "sub");
}

TEST_F(RegistryTest, SaveKeyReplacesAnExistingFile) {
  Put("One", "a", "1");
  Put("Two\\Sub", "b", "2");
  Put("Dest\\Old", "o", "o");
  const std::string file = dir / "key.bak";
  ASSERT_TRUE(reg.SaveKey("One", file));
  ASSERT_TRUE(reg.SaveKey("tWO", file));
  ASSERT_TRUE(reg.RestoreKey("DEST", file));
  EXPECT_EQ(reg.SubKeys("Dest"), Names{"Sub"});
  EXPECT_EQ(Value("Dest", "a"), "<absent>");
  EXPECT_EQ(Value("Dest\\Sub", "b"), "2");
  EXPECT_FALSE(reg.SaveKey("Missing", dir / "missing.bak"));
  EXPECT_FALSE(FileExists(dir / "missing.bak"));
}

TEST_F(RegistryTest, BadFilesAreRefused) {
  Put("K\\Sub", "w", "2");
  EXPECT_FALSE(reg.RestoreKey("K", dir / "nothing.bak"));
  std::ofstream(dir / "garbage.bak") << std::string(2048, 'g');
  EXPECT_FALSE(reg.RestoreKey("K", dir / "garbage.bak"));
  EXPECT_EQ(Value("K\\Sub", "w"), "2");

  std::ofstream(dir / "other.db") << "not a settings store\n" << std::string(4096, 'x');
  EXPECT_THROW(Registry bad(dir / "other.db"), RegistryError);
  EXPECT_THROW(Registry bad(dir / "no/such/folder/registry.db"), RegistryError);
}

}  // namespace
}  // namespace heron
