#include "RecordFile.h"

namespace {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message + " (" + std::to_string(code) + ")";
}

}  // namespace

bool TWin32RecordFile::Fail() {
  // The first failure is the cause; what fails after it only follows from it.
  if (LastError.empty()) LastError = SystemMessage(GetLastError());
  return false;
}

bool TWin32RecordFile::Create(const std::string& path) {
  File = TKernelHandle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return File ? true : Fail();
}

bool TWin32RecordFile::WriteAt(uint64_t offset, const void* data, uint32_t size,
                               uint32_t& written) {
  written = 0;
  const auto* bytes = static_cast<const char*>(data);
  // WriteFile may write less than asked (a full disk): go on until it fails.
  while (written < size) {
    OVERLAPPED at{};
    const uint64_t position = offset + written;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD n = 0;
    if (!WriteFile(File.Get(), bytes + written, size - written, &n, &at)) return Fail();
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      return Fail();
    }
    written += n;
  }
  return true;
}

bool TWin32RecordFile::Truncate(uint64_t size) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(File.Get(), to, nullptr, FILE_BEGIN) || !SetEndOfFile(File.Get()))
    return Fail();
  return true;
}
