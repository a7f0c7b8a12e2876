// Values and errors as reg.exe prints them.
#include "handheld/reg/reg_display.h"

#include <cinttypes>
#include <cstdio>

#include "handheld/reg/reg_syntax.h"
#include "handheld/text.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"

namespace handheld::reg {
namespace {

std::string Hex(const std::vector<BYTE>& data) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (BYTE b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// As reg.exe shows data: numbers in 0x hex, binary in hex digits, multi-strings joined by \0.
std::string Shown(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
        case REG_DWORD:
        case kRegQword: {
            if (data.size() != (type == REG_DWORD ? 4u : 8u)) return Hex(data);
            std::uint64_t v = 0;
            for (std::size_t i = 0; i < data.size(); ++i)
                v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
            return buf;
        }
        case REG_SZ:
        case REG_EXPAND_SZ:
            return Utf8(host::StringOf(data));
        case REG_MULTI_SZ: {
            std::u16string text = host::TextOf(data);
            while (!text.empty() && text.back() == u'\0')
                text.pop_back();
            std::string out;
            std::size_t i = 0;
            for (;;) {
                std::size_t end = text.find(u'\0', i);
                out += Utf8(text.substr(i, end - i));
                if (end == std::u16string::npos) break;
                out += "\\0";
                i = end + 1;
            }
            return out;
        }
        default:
            return Hex(data);
    }
}

}  // namespace

std::string ErrorText(LONG error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified.";
        case ERROR_ACCESS_DENIED:
            return "Access is denied.";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory resources are available to process this command.";
        case ERROR_GEN_FAILURE:
            return "A device attached to the system is not functioning.";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect.";
        case ERROR_BAD_PATHNAME:
            return "The specified path is invalid.";
        case ERROR_MORE_DATA:
            return "More data is available.";
        case ERROR_BADDB:
            return "The configuration registry database is corrupt.";
        case ERROR_BADKEY:
            return "The configuration registry key is invalid.";
        case ERROR_CANTREAD:
            return "The configuration registry key could not be read.";
        case ERROR_DISK_FULL:
            return "There is not enough space on the disk.";
        case ERROR_BUSY:
            return "The requested resource is in use.";
        case ERROR_CANTWRITE:
            return "The configuration registry key could not be written.";
        case ERROR_KEY_DELETED:
            return "Illegal operation attempted on a registry key that has been marked for deletion.";
        default:
            return "Error " + std::to_string(error) + ".";
    }
}

std::string ValueLine(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    return "    " + (name.empty() ? std::string("(Default)") : Utf8(name)) + "    " + TypeText(type) + "    " +
           Shown(type, data) + "\n";
}

}  // namespace handheld::reg
