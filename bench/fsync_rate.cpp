// The disk's own rate of small durable writes: W writers, each appending
// 4 KiB to a file of its own and fsyncing it, for S seconds, in FOLDER.
// Prints "fsyncs_per_s=<n>" for all writers together.
//
//   fsync_rate --folder /tmp/x --writers 8 --seconds 5
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  std::string folder = ".";
  int writers = 1;
  double seconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--folder") folder = argv[i + 1];
    if (a == "--writers") writers = std::atoi(argv[i + 1]);
    if (a == "--seconds") seconds = std::atof(argv[i + 1]);
  }
  std::atomic<long> syncs{0};
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([&, w] {
      std::string path = folder + "/fsync_rate." + std::to_string(w);
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0) return;
      std::string block(4096, 'x');
      while (std::chrono::steady_clock::now() < end) {
        if (write(fd, block.data(), block.size()) < 0 || fsync(fd) != 0) break;
        ++syncs;
      }
      close(fd);
      unlink(path.c_str());
    });
  }
  for (auto& t : threads) t.join();
  std::printf("fsyncs_per_s=%.1f\n", static_cast<double>(syncs) / seconds);
  return 0;
}
