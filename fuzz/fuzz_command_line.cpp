// The command-line tail and the uninstaller's command line from the registry.
#include "app/command_line.h"
#include "app/language_table.h"
#include "ui/uninstall_path.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    char url[256 + 4];
    std::memset(url, 'G', sizeof url);
    std::string line = text;
    char* tail = CommandLineTail(&line[0]);
    if (tail < &line[0] || tail > &line[0] + line.size()) __builtin_trap();
    ParseHandOption(tail, url, 256);
    if (url[256] != 'G') __builtin_trap();
    std::string value = text;
    char* folder = CutUninstallFolder(&value[0]);
    if (folder != nullptr && (folder < &value[0] || folder > &value[0] + value.size())) __builtin_trap();
    if (size >= 2) PickLanguageForSystem(static_cast<unsigned short>(data[0] | data[1] << 8));
    return 0;
}
