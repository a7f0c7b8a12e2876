// The Reg* functions as a program on the handheld sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/host/registry_store.h"
#include "platform/host/trace.h"
#include "support/device_test.h"

namespace {

using Bytes = std::vector<BYTE>;

HKEY Unknown() { return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x7FFF0004)); }

std::string Utf8(const std::u16string& s) { return host::json::Utf8(s); }

class RegistryTest : public pelorn_test::DeviceTest {
protected:
    HKEY Create(HKEY base, const char16_t* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyEx(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition));
        return key;
    }
    HKEY Open(HKEY base, const char16_t* path) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyEx(base, path, 0, 0, &key));
        return key;
    }
    static LONG SetDword(HKEY key, const char16_t* name, DWORD v) {
        return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }
    static LONG Set(HKEY key, const char16_t* name, DWORD type, const Bytes& data) {
        return RegSetValueEx(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    // Type and data of a value, read with a buffer of exactly its size.
    static std::pair<DWORD, Bytes> Get(HKEY key, const char16_t* name) {
        DWORD type = 0, size = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueEx(key, name, nullptr, &type, nullptr, &size));
        Bytes data(size);
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueEx(key, name, nullptr, &type, data.data(), &size));
        return {type, data};
    }
    static std::vector<std::u16string> Subkeys(HKEY key) {
        std::vector<std::u16string> out;
        WCHAR name[256];
        for (DWORD i = 0;; ++i) {
            DWORD n = 256;
            LONG r = RegEnumKeyEx(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) return out;
            EXPECT_EQ(ERROR_SUCCESS, r);
            if (r != ERROR_SUCCESS) return out;
            out.emplace_back(name, n);
        }
    }
    static std::vector<std::u16string> Values(HKEY key) {
        std::vector<std::u16string> out;
        WCHAR name[256];
        for (DWORD i = 0;; ++i) {
            DWORD n = 256;
            LONG r = RegEnumValue(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) return out;
            EXPECT_EQ(ERROR_SUCCESS, r);
            if (r != ERROR_SUCCESS) return out;
            out.emplace_back(name, n);
        }
    }
    // Every key under the four roots as "ROOT\path", every value as "ROOT\path=name".
    std::vector<std::string> Tree() {
        std::vector<std::string> out;
        std::function<void(HKEY, const std::string&)> walk = [&](HKEY key, const std::string& path) {
            for (const auto& v : Values(key))
                out.push_back(path + "=" + Utf8(v));
            for (const auto& sub : Subkeys(key)) {
                out.push_back(path + "\\" + Utf8(sub));
                HKEY child = Open(key, sub.c_str());
                walk(child, path + "\\" + Utf8(sub));
                RegCloseKey(child);
            }
        };
        walk(HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT");
        walk(HKEY_CURRENT_USER, "HKEY_CURRENT_USER");
        walk(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE");
        walk(HKEY_USERS, "HKEY_USERS");
        return out;
    }
};

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheSpellingTheyWereCreatedWith) {
    DWORD disposition = 0;
    HKEY app = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", &disposition);
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    HKEY again = Create(HKEY_LOCAL_MACHINE, u"software\\APPS\\tavro sw", &disposition);
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    HKEY shell = Open(HKEY_CURRENT_USER, u"SOFTWARE\\microsoft\\SHELL");

    EXPECT_EQ(ERROR_SUCCESS, SetDword(app, u"AppReg", 1));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(again, u"APPREG", 2));
    EXPECT_EQ(std::vector<std::u16string>{u"AppReg"}, Values(app));
    EXPECT_EQ((Bytes{2, 0, 0, 0}), Get(app, u"appreg").second);

    // Latin-1 letters fold too; letters that differ stay apart.
    Create(app, u"\u00C4rger");
    Open(app, u"\u00E4RGER");
    Create(app, u"\u00C0");
    Create(app, u"A");
    Create(app, u"b");
    EXPECT_EQ((std::vector<std::u16string>{u"A", u"b", u"\u00C0", u"\u00C4rger"}), Subkeys(app));  // folded order
    EXPECT_EQ((std::vector<std::u16string>{u"Tavro SW"}), Subkeys(Open(HKEY_LOCAL_MACHINE, u"software\\apps")));
    for (HKEY k : {app, again, shell})
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
}

TEST_F(RegistryTest, MissingKeysAndValuesFailAndCreateNothing) {
    const auto before = Tree();
    HKEY sentinel = Unknown(), key = sentinel;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", 0, 0, &key));
    EXPECT_EQ(sentinel, key);

    HKEY shell = Open(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell");
    DWORD type = 77, size = 250;
    BYTE data[250];
    std::memset(data, 0xAB, sizeof data);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueEx(shell, u"State_Chg", nullptr, &type, data, &size));
    EXPECT_EQ(77u, type);
    EXPECT_EQ(250u, size);
    EXPECT_TRUE(std::all_of(data, data + sizeof data, [](BYTE b) { return b == 0xAB; }));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValue(shell, u"State_Chg"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKey(shell, u"Nothing"));
    EXPECT_EQ(before, Tree());
}

TEST_F(RegistryTest, ShortBuffersGiveMoreDataAndTheSizeNeededAndStayUntouched) {
    HKEY shell = Open(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell");
    const Bytes text(26, 0x41);
    ASSERT_EQ(ERROR_SUCCESS, Set(shell, u"FW", REG_SZ, text));

    DWORD type = 77, size = 10;
    BYTE data[26];
    std::memset(data, 0xAB, sizeof data);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueEx(shell, u"FW", nullptr, &type, data, &size));
    EXPECT_EQ(26u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_TRUE(std::all_of(data, data + sizeof data, [](BYTE b) { return b == 0xAB; }));

    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueEx(shell, u"FW", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(26u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueEx(shell, u"FW", nullptr, nullptr, data, &size));
    EXPECT_EQ(text, Bytes(data, data + 26));

    // Enumeration: the name must fit with its terminator; neither name nor count is touched.
    WCHAR name[8];
    std::fill(name, name + 8, u'#');
    DWORD chars = 2, cb = 26;
    type = 77;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValue(shell, 0, name, &chars, nullptr, &type, nullptr, &cb));
    EXPECT_EQ(2u, chars);
    EXPECT_EQ(u'#', name[0]);
    EXPECT_EQ(26u, cb);
    chars = 3;
    cb = 4;
    std::memset(data, 0xAB, sizeof data);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValue(shell, 0, name, &chars, nullptr, &type, data, &cb));
    EXPECT_EQ(26u, cb);
    EXPECT_EQ(0xAB, data[0]);
    chars = 2;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyEx(HKEY_CURRENT_USER, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, chars);
    EXPECT_EQ(u'#', name[0]);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyEx(HKEY_CURRENT_USER, 2, name, &chars, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValue(shell, 1, name, &chars, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, NullClosedAndUnknownKeysAreInvalidHandles) {
    HKEY closed = Open(HKEY_CURRENT_USER, u"Software");
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(closed));
    const HKEY sentinel = Unknown();
    HKEY out = sentinel;
    DWORD number = 77, chars = 8, cb = 4;
    WCHAR name[8] = {u'#'};
    BYTE data[4] = {9, 9, 9, 9};
    const DWORD one = 1;
    const std::vector<std::function<LONG(HKEY)>> calls = {
        [&](HKEY k) { return RegOpenKeyEx(k, u"Software", 0, 0, &out); },
        [&](HKEY k) { return RegCreateKeyEx(k, u"X", 0, nullptr, 0, 0, nullptr, &out, &number); },
        [&](HKEY k) { return RegQueryValueEx(k, u"V", nullptr, &number, data, &cb); },
        [&](HKEY k) { return RegSetValueEx(k, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4); },
        [&](HKEY k) { return RegDeleteValue(k, u"V"); },
        [&](HKEY k) { return RegDeleteKey(k, u"Software"); },
        [&](HKEY k) { return RegEnumKeyEx(k, 0, name, &chars, nullptr, nullptr, nullptr, nullptr); },
        [&](HKEY k) { return RegEnumValue(k, 0, name, &chars, nullptr, &number, data, &cb); },
        [&](HKEY k) { return RegCloseKey(k); },
    };
    for (HKEY bad : {HKEY(nullptr), closed, Unknown(), reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)}) {
        for (std::size_t i = 0; i < calls.size(); ++i)
            EXPECT_EQ(ERROR_INVALID_HANDLE, calls[i](bad)) << "call " << i;
    }
    EXPECT_EQ(sentinel, out);
    EXPECT_EQ(77u, number);
    EXPECT_EQ(8u, chars);
    EXPECT_EQ(4u, cb);
    EXPECT_EQ(u'#', name[0]);
    EXPECT_EQ(9, data[0]);

    // A root is never closed, and a handle from before a reboot is gone.
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"System", 0, 0, &out));
    Reboot();
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(out));
}

TEST_F(RegistryTest, CreateAndOpenFollowWin32PathRules) {
    DWORD disposition = 0;
    HKEY deep = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", &disposition);
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    HKEY mid = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps", &disposition);
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    // Doubled and trailing separators name nothing; a leading one is a bad path and creates nothing.
    RegCloseKey(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\\Apps\\Tavro SW\\"));
    const auto before = Tree();
    HKEY out = Unknown();
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"\\SOFTWARE", 0, 0, &out));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyEx(mid, u"\\New", 0, nullptr, 0, 0, nullptr, &out, nullptr));
    EXPECT_EQ(Unknown(), out);
    EXPECT_EQ(ERROR_BADKEY, RegCreateKeyEx(mid, u"New", 0, nullptr, 0, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyEx(mid, u"Tavro SW", 0, 0, nullptr));
    EXPECT_EQ(before, Tree());

    // An empty or null subkey opens the same key again under a new handle; a root stays itself.
    HKEY same = Open(deep, nullptr);
    EXPECT_NE(deep, same);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(deep));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(same, u"AppReg", 1));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, Open(HKEY_LOCAL_MACHINE, u""));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(same));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(mid));
}

TEST_F(RegistryTest, DataIsKeptByteForByteAcrossAReboot) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW");
    // Firmware text widened from 8-bit text with sign extension: the byte 0xB0 becomes 0xFFB0.
    std::u16string fw = u" 00.00.00.0";
    fw.push_back(u'\xFFB0');
    fw.push_back(u'\0');
    Bytes fw_bytes(reinterpret_cast<const BYTE*>(fw.data()), reinterpret_cast<const BYTE*>(fw.data() + fw.size()));
    ASSERT_EQ(26u, fw_bytes.size());
    const Bytes binary = {0, 0xFF, 0, 0x80, 1};
    ASSERT_EQ(ERROR_SUCCESS, Set(key, u"FW", REG_SZ, fw_bytes));
    ASSERT_EQ(ERROR_SUCCESS, Set(key, u"Bin", REG_BINARY, binary));
    ASSERT_EQ(ERROR_SUCCESS, Set(key, u"Empty", REG_BINARY, {}));
    ASSERT_EQ(ERROR_SUCCESS, Set(key, u"Short", REG_DWORD, {7, 0}));  // Win32 takes any size
    ASSERT_EQ(ERROR_SUCCESS, Set(key, u"Odd", 0x12345, {1, 2, 3}));
    ASSERT_EQ(ERROR_SUCCESS, Set(key, nullptr, REG_SZ, {u'd', 0, 0, 0}));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"GPSHDL", 0x00010004));
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueEx(key, u"Null", 0, REG_BINARY, nullptr, 4));
    RegCloseKey(key);

    Reboot();
    key = Open(HKEY_LOCAL_MACHINE, u"software\\apps\\tavro sw");
    EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, fw_bytes), Get(key, u"FW"));
    EXPECT_EQ(std::make_pair(DWORD{REG_BINARY}, binary), Get(key, u"Bin"));
    EXPECT_EQ(std::make_pair(DWORD{REG_BINARY}, Bytes{}), Get(key, u"Empty"));
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, (Bytes{7, 0})), Get(key, u"Short"));
    EXPECT_EQ(std::make_pair(DWORD{0x12345}, (Bytes{1, 2, 3})), Get(key, u"Odd"));
    EXPECT_EQ(std::make_pair(DWORD{REG_SZ}, (Bytes{u'd', 0, 0, 0})), Get(key, u""));
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, (Bytes{4, 0, 1, 0})), Get(key, u"GPSHDL"));
    // Values enumerate in the order they were created.
    EXPECT_EQ((std::vector<std::u16string>{u"FW", u"Bin", u"Empty", u"Short", u"Odd", u"", u"GPSHDL"}), Values(key));
}

TEST_F(RegistryTest, OnlyKeysWithoutSubkeysCanBeDeletedAndTheirHandlesDie) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps");
    HKEY leaf = Create(parent, u"Leaf");
    ASSERT_EQ(ERROR_SUCCESS, SetDword(leaf, u"V", 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKey(HKEY_LOCAL_MACHINE, u""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKey(parent, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKey(parent, u"LEAF"));
    HKEY out = Unknown();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(parent, u"Leaf", 0, 0, &out));

    // The old handle stays dead even when a key of the same name comes back.
    HKEY again = Create(parent, u"Leaf");
    DWORD type = 77, size = 4, disposition = 77, chars = 8;
    WCHAR name[8] = {u'#'};
    BYTE data[4] = {9, 9, 9, 9};
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueEx(leaf, u"V", nullptr, &type, data, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(leaf, u"V", 2));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValue(leaf, u"V"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyEx(leaf, nullptr, 0, 0, &out));
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyEx(leaf, u"Sub", 0, nullptr, 0, 0, nullptr, &out, &disposition));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyEx(leaf, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValue(leaf, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKey(leaf, u""));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(leaf));
    EXPECT_EQ(Unknown(), out);
    EXPECT_EQ(77u, type);
    EXPECT_EQ(77u, disposition);
    EXPECT_EQ(9, data[0]);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueEx(again, u"V", nullptr, nullptr, nullptr, nullptr));

    // Deleting a key through itself works too; its values go with it.
    ASSERT_EQ(ERROR_SUCCESS, SetDword(again, u"V", 3));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKey(again, u""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(parent, u"Leaf", 0, 0, &out));
}

TEST_F(RegistryTest, TraceRecordsEachCallUnderWin32Names) {
    trace().Clear();
    HKEY shell = Open(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell");
    ASSERT_EQ(ERROR_SUCCESS, SetDword(shell, u"State_Chg", 0x0102));
    DWORD type = 0, size = 250;
    BYTE data[250];
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueEx(shell, u"State_Chg", nullptr, &type, data, &size));
    HKEY out = nullptr;
    ASSERT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Missing", 0, 0, &out));

    const auto opens = trace().Calls("RegOpenKeyEx");
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ("HKEY_CURRENT_USER", opens[0].Str("hKey"));
    EXPECT_EQ("Software\\MicroSoft\\Shell", opens[0].Str("lpSubKey"));
    EXPECT_EQ(0, opens[0].Num("ulOptions"));
    EXPECT_EQ(std::to_string(reinterpret_cast<std::intptr_t>(shell)), opens[0].Raw("phkResult"));
    EXPECT_EQ(ERROR_SUCCESS, opens[0].Num("result"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, opens[1].Num("result"));
    EXPECT_FALSE(opens[1].Has("phkResult"));

    const auto sets = trace().Calls("RegSetValueEx");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ(std::to_string(reinterpret_cast<std::intptr_t>(shell)), sets[0].Raw("hKey"));
    EXPECT_EQ("State_Chg", sets[0].Str("lpValueName"));
    EXPECT_EQ(REG_DWORD, sets[0].Num("dwType"));
    EXPECT_EQ("02010000", sets[0].Str("lpData"));
    EXPECT_EQ(4, sets[0].Num("cbData"));

    const auto queries = trace().Calls("RegQueryValueEx");
    ASSERT_EQ(1u, queries.size());
    EXPECT_EQ(250, queries[0].Num("lpcbData"));
    EXPECT_EQ(4, queries[0].Num("*lpcbData"));
    EXPECT_EQ(REG_DWORD, queries[0].Num("lpType"));
    EXPECT_EQ("02010000", queries[0].Str("lpData"));
}

TEST_F(RegistryTest, InjectedFaultsFailExactlyTheNextCalls) {
    HKEY shell = Open(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell");
    ASSERT_EQ(ERROR_SUCCESS, SetDword(shell, u"V", 1));
    HKEY out = nullptr;
    DWORD number = 0, chars = 0;
    WCHAR name[16];
    BYTE data[4];
    const DWORD one = 1;
    struct Call {
        const char* name;
        std::function<LONG()> run;
    };
    const std::vector<Call> calls = {
        {"RegOpenKeyEx", [&] { return RegOpenKeyEx(HKEY_CURRENT_USER, u"Software", 0, 0, &out); }},
        {"RegCreateKeyEx", [&] { return RegCreateKeyEx(shell, u"Sub", 0, nullptr, 0, 0, nullptr, &out, &number); }},
        {"RegQueryValueEx", [&] { return RegQueryValueEx(shell, u"V", nullptr, &number, data, &(chars = 4)); }},
        {"RegSetValueEx",
         [&] { return RegSetValueEx(shell, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4); }},
        {"RegEnumKeyEx",
         [&] { return RegEnumKeyEx(shell, 0, name, &(chars = 16), nullptr, nullptr, nullptr, nullptr); }},
        {"RegEnumValue",
         [&] { return RegEnumValue(shell, 0, name, &(chars = 16), nullptr, &number, nullptr, nullptr); }},
        {"RegDeleteKey", [&] { return RegDeleteKey(shell, u"Sub"); }},
        {"RegDeleteValue", [&] { return RegDeleteValue(shell, u"V"); }},
        {"RegCloseKey", [&] { return RegCloseKey(out); }},
    };
    for (const Call& call : calls) {
        trace().Clear();
        device().faults().FailNext(call.name, 2, ERROR_OUTOFMEMORY);
        out = Unknown();
        number = 77;
        EXPECT_EQ(ERROR_OUTOFMEMORY, call.run()) << call.name;
        EXPECT_EQ(ERROR_OUTOFMEMORY, call.run()) << call.name;
        EXPECT_EQ(Unknown(), out) << call.name;
        EXPECT_EQ(77u, number) << call.name;
        if (std::string(call.name) == "RegCloseKey") out = Open(shell, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, call.run()) << call.name;
        EXPECT_EQ("true", trace().Calls(call.name).front().Raw("injected")) << call.name;
        if (std::string(call.name) == "RegOpenKeyEx") RegCloseKey(out);
    }
}

TEST_F(RegistryTest, NamesAndDepthsPastWin32LimitsAreRefusedAndCreateNothing) {
    HKEY base = Create(HKEY_CURRENT_USER, u"Limits");  // one level below the root
    std::u16string deep = u"d";
    for (int level = 3; level <= 512; ++level)
        deep += u"\\d";
    const auto before = Tree();
    HKEY out = Unknown();
    for (const std::u16string& path : {std::u16string(256, u'k'), deep + u"\\d", std::u16string(u"line\nbreak")})
        EXPECT_EQ(ERROR_INVALID_PARAMETER,
                  RegCreateKeyEx(base, path.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SetDword(base, std::u16string(16384, u'v').c_str(), 1));
    EXPECT_EQ(Unknown(), out);
    EXPECT_EQ(before, Tree());

    // At the limits themselves all is made.
    for (const std::u16string& path : {std::u16string(255, u'k'), deep})
        RegCloseKey(Create(base, path.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(base, std::u16string(16383, u'v').c_str(), 1));
}

TEST_F(RegistryTest, ABatchOfChangesIsMadeWholeOrNotAtAll) {
    using Kind = host::RegChange::Kind;
    auto change = [](Kind kind, std::u16string path, std::u16string name = u"", bool if_present = false) {
        return host::RegChange{kind,
                               host::RegistryStore::Root(HKEY_CURRENT_USER),
                               std::move(path),
                               if_present,
                               std::move(name),
                               REG_DWORD,
                               {7, 0, 0, 0}};
    };
    HKEY old = Create(HKEY_CURRENT_USER, u"Batch\\Old\\Sub");
    ASSERT_EQ(ERROR_SUCCESS, SetDword(old, u"Kept", 1));
    const std::vector<host::RegChange> good = {
        change(Kind::kCreateKey, u"Batch\\New\\Deeper"),
        change(Kind::kSetValue, u"Batch\\New\\Deeper", u"X"),
        change(Kind::kDeleteTree, u"Batch\\Old"),
        change(Kind::kDeleteValue, u"Batch\\New", u"No", true),
        change(Kind::kDeleteTree, u"Batch\\None", u"", true),
    };
    // Each batch fails at its last change, and what came before it is undone.
    const std::pair<host::RegChange, LONG> last[] = {
        {change(Kind::kSetValue, u"Batch\\Missing", u"X"), ERROR_FILE_NOT_FOUND},
        {change(Kind::kDeleteValue, u"Batch\\New", u"No"), ERROR_FILE_NOT_FOUND},
        {change(Kind::kDeleteTree, u""), ERROR_ACCESS_DENIED},
        {change(Kind::kCreateKey, u"Batch\\" + std::u16string(256, u'k')), ERROR_INVALID_PARAMETER},
        {change(Kind::kSetValue, u"Batch", std::u16string(16384, u'v')), ERROR_INVALID_PARAMETER},
    };
    const auto before = Tree();
    for (const auto& [bad, error] : last) {
        std::vector<host::RegChange> changes = good;
        changes.push_back(bad);
        std::size_t failed = 0;
        EXPECT_EQ(error, device().registry().Apply(changes, &failed));
        EXPECT_EQ(good.size(), failed);
        EXPECT_EQ(before, Tree());
    }
    std::size_t failed = 0;
    ASSERT_EQ(ERROR_SUCCESS, device().registry().Apply(good, &failed));
    HKEY out = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(HKEY_CURRENT_USER, u"Batch\\Old", 0, 0, &out));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(old, u"Kept", 2));
    HKEY made = Open(HKEY_CURRENT_USER, u"Batch\\New\\Deeper");
    EXPECT_EQ(std::make_pair(DWORD{REG_DWORD}, Bytes{7, 0, 0, 0}), Get(made, u"X"));
}

}  // namespace

TEST_F(RegistryTest, EnumeratingWhileAnotherHandleWritesListsNoValueTwice) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Walk");
    HKEY other = Open(HKEY_CURRENT_USER, u"Software\\Walk");
    const std::u16string names[] = {u"A", u"B", u"C", u"D", u"E", u"F"};
    for (const auto& n : names)
        ASSERT_EQ(ERROR_SUCCESS, SetDword(key, n.c_str(), 1));
    // Asked twice for one index (a retry with a bigger buffer), then out of order: the same
    // answers as a fresh enumeration gives.
    WCHAR name[8];
    DWORD n = 8;
    for (DWORD i : {0u, 1u, 1u, 4u, 2u}) {
        n = 8;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumValue(key, i, name, &n, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(names[i], std::u16string(name, n));
    }
    // Values added and deleted behind the enumeration's back: it still ends, listing none twice.
    std::vector<std::u16string> seen;
    for (DWORD i = 0;; ++i) {
        n = 8;
        LONG r = RegEnumValue(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(ERROR_SUCCESS, r);
        seen.emplace_back(name, n);
        if (i == 2) {
            ASSERT_EQ(ERROR_SUCCESS, RegDeleteValue(other, u"A"));
            ASSERT_EQ(ERROR_SUCCESS, SetDword(other, u"G", 1));
        }
    }
    std::vector<std::u16string> unique = seen;
    std::sort(unique.begin(), unique.end());
    EXPECT_EQ(unique.end(), std::adjacent_find(unique.begin(), unique.end()));
    EXPECT_EQ((std::vector<std::u16string>{u"B", u"C", u"D", u"E", u"F", u"G"}), Values(key)) << "and a stable key";
    RegCloseKey(other);
    RegCloseKey(key);
}
