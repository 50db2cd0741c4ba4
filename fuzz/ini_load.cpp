// Settings files of any content: every listed key reads back, and a write changes only the key
// written: every other value reads the same afterwards.
#include "FuzzFiles.h"
#include "platform/classes/IniFiles.h"
#include "platform/rtl/SysUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Keys checked per input, so that a file of many keys stays quick.
constexpr int MaxKeysChecked = 64;

struct Value {
    std::string section, key, text;
};

std::vector<Value> ReadAll(const TIniFile& ini) {
    std::vector<Value> values;
    TStringList sections, keys;
    ini.ReadSections(sections);
    for (const std::string& section : sections) {
        ini.ReadSection(section, keys);
        for (const std::string& key : keys) {
            if (static_cast<int>(values.size()) == MaxKeysChecked) return values;
            if (!ini.ValueExists(section, key) || !ini.SectionExists(section)) std::abort();
            values.push_back({section, key, ini.ReadString(section, key, "")});
        }
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path =
        fuzz_files::Put("fuzz.ini", std::string_view(reinterpret_cast<const char*>(data), size));
    TIniFile ini(path);
    const std::vector<Value> before = ReadAll(ini);

    const int32_t written = static_cast<int32_t>(size * 2654435761u);
    ini.WriteInteger("Fuzz Check", "Written", written);
    if (ini.ReadInteger("fuzz check", "WRITTEN", 0) != written) std::abort();
    for (const Value& v : before) {
        const bool overwritten = SameText(v.section, "Fuzz Check") && SameText(v.key, "Written");
        if (!overwritten && ini.ReadString(v.section, v.key, "\x01missing") != v.text) std::abort();
    }
    return 0;
}
