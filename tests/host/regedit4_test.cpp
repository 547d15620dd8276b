// The machine file grammar: what the registry editor's import takes and what
// it skips or refuses, line by line.
#include "host/registry/regedit4.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/registry/registry.h"

namespace {

struct Case {
  const char* what;
  std::string lines;  // after the header and the key line [HKEY_LOCAL_MACHINE\T]
  uint32_t type;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> Text(const std::string& s) {
  std::vector<uint8_t> bytes(s.begin(), s.end());
  bytes.push_back(0);
  return bytes;
}

const Case kAccepted[] = {
    {"plain string", "\"v\"=\"text\"", REG_SZ, Text("text")},
    {"blanks around =", "\"v\" \t= \"text\"  ", REG_SZ, Text("text")},
    {"escaped backslash and quote", R"("v"="a\\b\"c")", REG_SZ, Text("a\\b\"c")},
    {"escaped line feed and return", R"("v"="x\ny\r")", REG_SZ, Text("x\ny\r")},
    {"unknown escape stands for itself", R"("v"="\a")", REG_SZ, Text("a")},
    {"comment after a string", "\"v\"=\"q\" ; why", REG_SZ, Text("q")},
    {"empty string", "\"v\"=\"\"", REG_SZ, Text("")},
    {"dword", "\"v\"=dword:0000abcd", REG_DWORD, {0xcd, 0xab, 0, 0}},
    {"dword of one digit", "\"v\"=dword:1", REG_DWORD, {1, 0, 0, 0}},
    {"largest dword", "\"v\"=dword:FFFFFFFF", REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
    {"dword and comment", "\"v\"=dword:10 ;c", REG_DWORD, {0x10, 0, 0, 0}},
    {"hex bytes", "\"v\"=hex:01,2,ff", REG_BINARY, {1, 2, 0xff}},
    {"empty hex", "\"v\"=hex:", REG_BINARY, {}},
    {"trailing comma", "\"v\"=hex:01,02,", REG_BINARY, {1, 2}},
    {"continued hex", "\"v\"=hex:01,02,\\\n  03,04", REG_BINARY, {1, 2, 3, 4}},
    {"comment and blank inside continuation",
     "\"v\"=hex:01,\\ ; more\n; c\n\n  02",
     REG_BINARY,
     {1, 2}},
    {"continuation at the end of the file", "\"v\"=hex:01,\\", REG_BINARY, {1}},
    {"hex(2) gains its terminating zero", "\"v\"=hex(2):41,42", REG_EXPAND_SZ, Text("AB")},
    {"hex(7) already terminated", "\"v\"=hex(7):41,00,00", REG_MULTI_SZ, {0x41, 0, 0}},
    {"hex(0)", "\"v\"=hex(0):05", REG_NONE, {5}},
    {"hex(N) with a large type", "\"v\"=hex(100):05", 0x100, {5}},
    {"default value by @", "@=\"d\"\n\"v\"=hex:07", REG_BINARY, {7}},
    {"comments of both kinds", "; one\n# two\n\"v\"=dword:2", REG_DWORD, {2, 0, 0, 0}},
    {"indented value line", "   \t\"v\"=dword:3", REG_DWORD, {3, 0, 0, 0}},
    {"last value wins", "\"v\"=dword:3\n\"V\"=dword:4", REG_DWORD, {4, 0, 0, 0}},
};

struct Refusal {
  const char* what;
  std::string lines;  // as above
  int line;           // the line named in the message
};

const Refusal kRefused[] = {
    {"nine dword digits", "\"v\"=dword:000000001", 3},
    {"dword with 0x", "\"v\"=dword:0x1", 3},
    {"dword with a blank inside", "\"v\"=dword:12 34", 3},
    {"dword without digits", "\"v\"=dword:", 3},
    {"type in capitals", "\"v\"=DWORD:1", 3},
    {"unknown type", "\"v\"=str:\"x\"", 3},
    {"no =", "\"v\" \"x\"", 3},
    {"bad hex byte", "\"v\"=hex:1g", 3},
    {"hex byte above ff", "\"v\"=hex:100", 3},
    {"blank before a comma", "\"v\"=hex:01 ,02", 3},
    {"backslash without comma", "\"v\"=hex:01,02\\", 3},
    {"text after the backslash", "\"v\"=hex:01,\\ x", 3},
    {"continuation not hex", "\"v\"=hex:01,\\\n\n  zz", 5},
    {"hex(0x2)", "\"v\"=hex(0x2):01", 3},
    {"hex( without )", "\"v\"=hex(2:01", 3},
    {"hex type beyond 32 bits", "\"v\"=hex(100000000):01", 3},
    {"string not closed", "\"v\"=\"open", 3},
    {"name not closed", "\"v=\"x\"", 3},
    {"\\0 in a string", R"("v"="a\0b")", 3},
    {"# after a string", "\"v\"=\"a\"#c", 3},
    {"text after a string", "\"v\"=\"a\" b", 3},
    {"line of no kind", "v=1", 3},
    {"blank after [", "[ HKEY_LOCAL_MACHINE\\A]", 3},
    {"key without ]", "[HKEY_LOCAL_MACHINE\\A", 3},
    {"unknown root", "[HKEY_NOWHERE\\A]", 3},
    {"short root name", "[HKLM\\A]", 3},
    {"empty key name", "[HKEY_LOCAL_MACHINE\\A\\\\B]", 3},
    {"root deleted", "\"v\"=dword:1\n[-HKEY_LOCAL_MACHINE]", 4},
    {"value after a deleted key", "[-HKEY_LOCAL_MACHINE\\T]\n\"v\"=dword:1", 4},
    {"value deletion with text after", "\"v\"=- x", 3},
};

const std::string kHead = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\T]\n";

const host::RegValue* ValueV(host::RegistryTree* tree) {
  const host::RegKey* key = tree->Root(HKEY_LOCAL_MACHINE)->FindPath("T");
  return key == nullptr ? nullptr : key->Value("v");
}

TEST(Regedit4Grammar, AcceptedLinesGiveTheirValues) {
  for (const Case& c : kAccepted) {
    SCOPED_TRACE(c.what);
    host::RegistryTree tree;
    std::string error;
    ASSERT_TRUE(host::ParseRegedit4(kHead + c.lines + "\n", "m.reg", &tree, &error)) << error;
    const host::RegValue* value = ValueV(&tree);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
  }
}

TEST(Regedit4Grammar, RefusedLinesNameFileAndLine) {
  for (const Refusal& r : kRefused) {
    SCOPED_TRACE(r.what);
    host::RegistryTree tree;
    std::string error;
    EXPECT_FALSE(host::ParseRegedit4(kHead + r.lines + "\n", "m.reg", &tree, &error));
    EXPECT_EQ(error.rfind("m.reg:" + std::to_string(r.line) + ": ", 0), 0u) << error;
  }
}

TEST(Regedit4Grammar, HeaderMustBeExactlyRegedit4) {
  const char* kRefusedHeaders[] = {
      "",          "\nREGEDIT4", "REGEDIT4x", "REGEDIT 4",
      "REGEDIT4 ", "regedit4",   "REGEDIT",   "Windows Registry Editor Version 5.00"};
  for (const char* header : kRefusedHeaders) {
    SCOPED_TRACE(header);
    host::RegistryTree tree;
    std::string error;
    EXPECT_FALSE(host::ParseRegedit4(std::string(header) + "\n", "h.reg", &tree, &error));
    EXPECT_EQ(error, "h.reg:1: the first line must be REGEDIT4");
  }
  host::RegistryTree tree;
  std::string error;
  EXPECT_TRUE(host::ParseRegedit4(" \tREGEDIT4", "h.reg", &tree, &error)) << error;
}

TEST(Regedit4Grammar, LineEndingsOfEveryKindCountAsOneLine) {
  for (const char* end : {"\r\n", "\n", "\r"}) {
    std::string text = std::string("REGEDIT4") + end + end + "[HKEY_DYN_DATA\\A]" + end +
                       "\"v\"=hex:01,\\" + end + " 02" + end + "\"w\"=dword:";
    host::RegistryTree tree;
    std::string error;
    EXPECT_FALSE(host::ParseRegedit4(text, "e.reg", &tree, &error));
    EXPECT_EQ(error.rfind("e.reg:6: ", 0), 0u) << error;
    const host::RegValue* value = tree.Root(HKEY_DYN_DATA)->FindPath("A")->Value("v");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->data, (std::vector<uint8_t>{1, 2}));
  }
}

TEST(Regedit4Grammar, DeletionsRemoveWhatCameBefore) {
  std::string text =
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n\"keep\"=\"1\"\n\"drop\"=\"2\"\n"
      "[HKEY_LOCAL_MACHINE\\A\\C]\n"
      "[-HKEY_LOCAL_MACHINE\\A\\C]\n"
      "[-HKEY_LOCAL_MACHINE\\A\\Missing\\Key]\n"
      "[hkey_local_machine\\a\\b] trailing text is ignored\n\"DROP\"=-\n"
      "@=\"default\"\n";
  host::RegistryTree tree;
  std::string error;
  ASSERT_TRUE(host::ParseRegedit4(text, "d.reg", &tree, &error)) << error;
  host::RegKey* a = tree.Root(HKEY_LOCAL_MACHINE)->Find("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Find("C"), nullptr);
  host::RegKey* b = a->Find("B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->name, "B");  // the spelling of the first mention stays
  EXPECT_NE(b->Value("keep"), nullptr);
  EXPECT_EQ(b->Value("drop"), nullptr);
  ASSERT_NE(b->Value(""), nullptr);
  EXPECT_EQ(b->Value("")->data, Text("default"));
}

}  // namespace
