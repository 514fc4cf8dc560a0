#include "runstate.h"

#include <cerrno>
#include <cmath>
#include <cstring>

BenchTables Bench;
std::atomic<std::int64_t> IdleCounter{0};
std::atomic<bool> IdleStop{false};

std::int64_t RoundHalfEven(long double value) { return std::llrint(value); }

bool TextFile::Rewrite(const std::string& name) {
  Close();
  name_ = name;
  file_ = std::fopen(name.c_str(), "wb");
  return file_ != nullptr;
}

void TextFile::WriteLine(const std::string& line) {
  if (!file_) throw EInOutError(name_ + ": the file is not open");
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fwrite("\r\n", 1, 2, file_) == 2 &&
            std::fflush(file_) == 0;
  if (!ok) {
    int error = errno;
    std::clearerr(file_);
    throw EInOutError(name_ + ": " + (error ? std::strerror(error) : "write failed"));
  }
}

void TextFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}
