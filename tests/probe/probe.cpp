// A stand-in for the launched application. It records what it received (its
// command line, its arguments and its working directory) in "probe-record.txt"
// beside its own executable, so that a test can compare them with what the
// launcher should have passed. Built for Windows (MinGW) and natively.
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::string ToUtf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring ToWide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1)
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
  return out;
}

std::string OwnPath() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return ToUtf8(buffer.c_str());
}

std::string CurrentDirectory() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  buffer.resize(n);
  return ToUtf8(buffer.c_str());
}

void WriteFileUtf8(const std::string& path, const std::string& content) {
  const std::wstring wide = ToWide(path);
  const std::wstring temp = wide + L".tmp";
  FILE* f = _wfopen(temp.c_str(), L"wb");
  if (f == nullptr)
    return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  MoveFileExW(temp.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING);
}
const char kSep = '\\';
#else
std::string OwnPath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  buffer.resize(n > 0 ? n : 0);
  return buffer;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr)
    return {};
  buffer.resize(buffer.find('\0'));
  return buffer;
}

void WriteFileUtf8(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr)
    return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  std::rename(temp.c_str(), path.c_str());
}
const char kSep = '/';
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string record;
#ifdef _WIN32
  record += "cmdline=" + ToUtf8(GetCommandLineW()) + "\n";
  int wargc = 0;
  wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
  std::vector<std::string> args;
  for (int i = 0; i < wargc; ++i)
    args.push_back(ToUtf8(wargv[i]));
  LocalFree(wargv);
  (void)argc;
  (void)argv;
#else
  std::vector<std::string> args(argv, argv + argc);
#endif
  record += "cwd=" + CurrentDirectory() + "\n";
  record += "argc=" + std::to_string(args.size()) + "\n";
  for (std::size_t i = 0; i < args.size(); ++i)
    record += "arg" + std::to_string(i) + "=" + args[i] + "\n";

  const std::string self = OwnPath();
  WriteFileUtf8(self.substr(0, self.rfind(kSep) + 1) + "probe-record.txt", record);
  return 0;
}
