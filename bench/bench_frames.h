#pragma once
// What the benchmarks share: a busy site's frames, and the bare frame scan
// every speed is compared with - read() and memchr() over the same bytes,
// checking each frame's length and end byte and nothing else. Its speed is
// what this machine does at best right now, so the ratio to it says more
// than a figure taken on a shared, busy machine.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// A repeated meter's telegram (CI 7A, 4 encrypted blocks of which 40 bytes
// are here) framed as the transceiver sends it: 68 L ... RSSI 16.
inline std::string MeterFrame(int meter, std::mt19937& rng) {
  std::string t("\x44\x93\x15", 3);
  const int id = 10000000 + meter;
  for (int k = 0; k < 4; ++k) {
    const int two = (id / (k == 0 ? 1 : k == 1 ? 100 : k == 2 ? 10000 : 1000000)) % 100;
    t.push_back(static_cast<char>((two / 10) << 4 | (two % 10)));
  }
  t += std::string("\x33\x07\x7A", 3);
  t.push_back(static_cast<char>(rng()));
  t.push_back(0x00);
  t.push_back(0x41);  // repeated, 4 blocks
  t.push_back(0x05);
  for (int i = 0; i < 40; ++i) t.push_back(static_cast<char>(rng()));
  std::string f;
  f.push_back(0x68);
  f.push_back(static_cast<char>(t.size() + 1));
  f += t;
  f.push_back(static_cast<char>(0x80 + rng() % 0x60));
  f.push_back(0x16);
  return f;
}

// `frames` frames from `meters` meters, each meter heard at least once first.
inline std::string MeterStream(int frames, int meters, unsigned seed) {
  std::mt19937 rng(seed);
  std::string stream;
  for (int i = 0; i < frames; ++i)
    stream += MeterFrame(i < meters ? i : static_cast<int>(rng() % static_cast<unsigned>(meters)), rng);
  return stream;
}

// Counts the frames of `bytes` (start byte, length, end byte at its place).
// `carry` holds an incomplete frame between calls.
class BareScanner {
 public:
  void Feed(std::string_view bytes) {
    m_buffer.append(bytes);
    size_t pos = 0;
    for (;;) {
      const void* hit = std::memchr(m_buffer.data() + pos, 0x68, m_buffer.size() - pos);
      if (!hit) {
        pos = m_buffer.size();
        break;
      }
      pos = static_cast<size_t>(static_cast<const char*>(hit) - m_buffer.data());
      if (pos + 1 >= m_buffer.size()) break;
      const size_t end = pos + static_cast<unsigned char>(m_buffer[pos + 1]) + 2;
      if (end >= m_buffer.size()) break;
      if (static_cast<unsigned char>(m_buffer[end]) == 0x16) {
        ++m_frames;
        pos = end + 1;
      } else {
        ++pos;
      }
    }
    m_buffer.erase(0, pos);
  }
  size_t Frames() const { return m_frames; }

 private:
  std::string m_buffer;
  size_t m_frames = 0;
};

// read() of `path` in 64 KiB pieces (as velrpt-cli decode reads), each
// piece scanned; the number of frames found.
inline size_t BareScanFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  BareScanner scan;
  static char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    scan.Feed(std::string_view(buffer, static_cast<size_t>(n)));
  }
  ::close(fd);
  return scan.Frames();
}

inline double Seconds(const std::function<void()>& fn) {
  const auto t0 = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline void Verdict(const std::string& what, bool met) {
  std::printf("   %-58s %s\n", what.c_str(), met ? "met" : "NOT MET");
}

// One line for a speed: the figure, the bare scan's and their ratio.
inline void PrintSpeed(const char* what, double framesPerSecond, double bareFramesPerSecond) {
  std::printf("%s: %.0f frames/s (median); bare read+memchr scan %.0f frames/s; %.1fx slower than the scan\n",
              what, framesPerSecond, bareFramesPerSecond,
              framesPerSecond > 0 ? bareFramesPerSecond / framesPerSecond : 0.0);
}

}  // namespace bench
