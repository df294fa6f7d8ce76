#include "platform/ini_file.h"
#include "platform/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

namespace platform {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ini_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  std::string dir_;
};

struct IntegerCase {
  const char* line;  // the key line, or nullptr for a missing key
  int32_t expected;  // with a default of -7
};

TEST(IniFileRead, IntegersTakeTheDefaultUnlessWellFormed) {
  const IntegerCase cases[] = {
      {nullptr, -7},
      {"k=", -7},
      {"k=abc", -7},
      {"k=12abc", -7},
      {"k=1 2", -7},
      {"k=1.5", -7},
      {"k=0x10", 16},
      {"k=0X1f", 31},
      {"k=0x", -7},
      {"k=0xg1", -7},
      {"k=+5", 5},
      {"k=-5", -5},
      {"k=+-5", -7},
      {"k=-0x10", -7},
      {"k=007", 7},
      {"k=  42  ", 42},
      {"k=\t42", 42},
      {"k=2147483647", 2147483647},
      {"k=2147483648", -7},
      {"k=-2147483648", INT32_MIN},
      {"k=-2147483649", -7},
      {"k=99999999999999999999", -7},
      {"k=0xFFFFFFFF", -1},
      {"k=0x000000010", 16},
      {"k=0x100000000", -7},
      {"k='12'", 12},
      {"k=\"0x10\"", 16},
      {"k='12\"", -7},
      {"k=''", -7},
  };
  for (const IntegerCase& c : cases) {
    const std::string text = std::string("[s]\r\n") + (c.line ? c.line : "other=1") + "\r\n";
    EXPECT_EQ(IniFile::FromText(text).ReadInteger("s", "k", -7), c.expected)
        << (c.line ? c.line : "(missing)");
  }
}

TEST(IniFileRead, BooleansAreNonZeroIntegers) {
  const IniFile ini = IniFile::FromText("[s]\nt=1\nf=0\nh=0x2\nbad=yes\n");
  EXPECT_TRUE(ini.ReadBool("s", "t", false));
  EXPECT_FALSE(ini.ReadBool("s", "f", true));
  EXPECT_TRUE(ini.ReadBool("s", "h", false));
  EXPECT_TRUE(ini.ReadBool("s", "bad", true));
  EXPECT_FALSE(ini.ReadBool("s", "missing", false));
}

struct FloatCase {
  const char* line;
  double expected;  // with a default of 0.5
};

TEST(IniFileRead, FloatsAreCLocaleDecimals) {
  const FloatCase cases[] = {
      {nullptr, 0.5},     {"k=", 0.5},         {"k=abc", 0.5},   {"k=1.5", 1.5},
      {"k=+2.25", 2.25},  {"k=-0.25", -0.25},  {"k=1e3", 1000},  {"k=7", 7},
      {"k=0x10", 0.5},    {"k=1,5", 0.5},      {"k=nan", 0.5},   {"k=inf", 0.5},
      {"k=1e999", 0.5},   {"k='1.25'", 1.25},  {"k=\"3\"", 3},   {"k=++1", 0.5},
  };
  // The process locale must not change how numbers are read or written.
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  for (const FloatCase& c : cases) {
    const std::string text = std::string("[s]\n") + (c.line ? c.line : "x=1") + "\n";
    EXPECT_DOUBLE_EQ(IniFile::FromText(text).ReadFloat("s", "k", 0.5), c.expected)
        << (c.line ? c.line : "(missing)");
  }
  EXPECT_EQ(FormatProfileFloat(1.0), "1");
  EXPECT_EQ(FormatProfileFloat(0.1), "0.1");
  EXPECT_EQ(FormatProfileFloat(static_cast<double>(1.1f)), "1.10000002384186");
  EXPECT_EQ(FormatProfileFloat(-2.5e20), "-2.5e+20");
  if (german) std::setlocale(LC_NUMERIC, "C");
}

TEST(IniFileRead, TextsKeepEmptyValuesAndLoseOnePairOfQuotes) {
  const std::string longValue(3000, 'x');
  const IniFile ini = IniFile::FromText(
      "[s]\r\n"
      "empty=\r\n"
      "plain =  two words  \r\n"
      "single=' padded  '\r\n"
      "double=\"quoted\"\r\n"
      "twice=''inner''\r\n"
      "open='unmatched\r\n"
      "mixed='x\"\r\n"
      "lone='\r\n"
      "eq=a=b\r\n"
      "long=" + longValue + "\r\n" +
      std::string("nul=ab\0cd\r\n", 11));
  EXPECT_EQ(ini.ReadString("s", "missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("s", "empty", "dflt"), "");
  EXPECT_EQ(ini.ReadString("s", "plain", ""), "two words");
  EXPECT_EQ(ini.ReadString("s", "single", ""), " padded  ");
  EXPECT_EQ(ini.ReadString("s", "double", ""), "quoted");
  EXPECT_EQ(ini.ReadString("s", "twice", ""), "'inner'");
  EXPECT_EQ(ini.ReadString("s", "open", ""), "'unmatched");
  EXPECT_EQ(ini.ReadString("s", "mixed", ""), "'x\"");
  EXPECT_EQ(ini.ReadString("s", "lone", ""), "'");
  EXPECT_EQ(ini.ReadString("s", "eq", ""), "a=b");
  EXPECT_EQ(ini.ReadString("s", "long", ""), std::string(kMaxValueLength, 'x'));
  EXPECT_EQ(ini.ReadString("s", "nul", ""), "ab");
}

TEST(IniFileRead, NamesMatchWithoutCaseAndTheFirstOneCounts) {
  const IniFile ini = IniFile::FromText(
      "orphan=1\n"
      "; comment=2\n"
      "  [ Setting ]  trailing\n"
      "  Key = first \n"
      ";key=commented\n"
      "KEY=second\n"
      "noequals\n"
      "[other]\n"
      "key=other\n"
      "[SETTING]\n"
      "late=3\n");
  EXPECT_EQ(ini.ReadString("setting", "key", ""), "first");
  EXPECT_EQ(ini.ReadString("SETTING", "kEy", ""), "first");
  EXPECT_EQ(ini.ReadString("other", "KEY", ""), "other");
  EXPECT_FALSE(ini.Read("setting", "late"));  // in a second section of the same name
  EXPECT_FALSE(ini.Read("setting", "orphan"));
  EXPECT_FALSE(ini.Read("setting", "noequals"));
  EXPECT_FALSE(ini.Read("setting", "comment"));
}

TEST(IniFileRead, EveryLineEndEndsALineAndIsKept) {
  for (const char* eol : {"\n", "\r\n", "\r\r\n", "\r"}) {
    const std::string e = eol;
    const std::string text = "[s]" + e + "a=1" + e + "b = 2" + e + "[t]" + e + "c=3";
    IniFile ini = IniFile::FromText(text);
    EXPECT_EQ(ini.ReadInteger("s", "a", 0), 1) << testing::PrintToString(e);
    EXPECT_EQ(ini.ReadInteger("s", "b", 0), 2) << testing::PrintToString(e);
    EXPECT_EQ(ini.ReadInteger("t", "c", 0), 3) << testing::PrintToString(e);
    EXPECT_EQ(ini.Text(), text);
    ini.WriteInteger("s", "b", 5);
    EXPECT_EQ(ini.Text(), "[s]" + e + "a=1" + e + "b=5" + e + "[t]" + e + "c=3");
  }
  // A third CR is a line end of its own before the CR CR LF.
  const IniFile ini = IniFile::FromText("[s]\r\r\r\na=1\r\r\r\n");
  EXPECT_EQ(ini.ReadInteger("s", "a", 0), 1);
  EXPECT_EQ(ini.Text(), "[s]\r\r\r\na=1\r\r\r\n");
}

TEST(IniFileRead, AByteOrderMarkIsNoPartOfTheFirstSection) {
  IniFile ini = IniFile::FromText("\xEF\xBB\xBF[setting]\r\nWRLoop=3\r\n");
  EXPECT_EQ(ini.ReadInteger("setting", "WRLoop", 0), 3);
  ini.WriteInteger("setting", "WRLoop", 5);
  ini.WriteInteger("setting", "New", 1);
  EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[setting]\r\nWRLoop=5\r\nNew=1\r\n");
  // Only at the very start.
  const IniFile later = IniFile::FromText("[a]\r\n\xEF\xBB\xBF[setting]\r\nWRLoop=3\r\n");
  EXPECT_FALSE(later.Read("setting", "WRLoop"));
  IniFile empty = IniFile::FromText("\xEF\xBB\xBF");
  empty.WriteString("s", "k", "v");
  EXPECT_EQ(empty.Text(), "\xEF\xBB\xBF[s]\r\nk=v\r\n");
}

TEST(IniFileWrite, ReplacesInPlaceAndKeepsEveryOtherLineByteForByte) {
  IniFile ini = IniFile::FromText(
      "; head comment\n"
      "[A]\n"
      "  Alpha = 1 ; not a comment\r\n"
      "foreign=keep me\n"
      "\n"
      "; belongs to B\n"
      "[B]\r\n"
      "beta=2");
  ini.WriteInteger("a", "ALPHA", 5);
  ini.WriteString("A", "gamma", "new");
  ini.WriteBool("b", "beta", false);
  ini.WriteString("B", "delta", "d");
  ini.WriteFloat("C", "f", 1.0);
  EXPECT_EQ(ini.Text(),
            "; head comment\n"
            "[A]\n"
            "Alpha=5\r\n"
            "foreign=keep me\n"
            "gamma=new\r\n"
            "\n"
            "; belongs to B\n"
            "[B]\r\n"
            "beta=0\r\n"
            "delta=d\r\n"
            "[C]\r\n"
            "f=1\r\n");
}

TEST(IniFileWrite, ANewKeyOfAnEmptySectionFollowsItsHeader) {
  IniFile ini = IniFile::FromText("[A]\n; note\n[B]\nx=1\n");
  ini.WriteString("A", "k", "v");
  EXPECT_EQ(ini.Text(), "[A]\nk=v\r\n; note\n[B]\nx=1\n");
}

TEST(IniFileWrite, ValuesCannotAddLines) {
  IniFile ini = IniFile::FromText("");
  ini.WriteString("s", "a", "one\r\n[evil]\r\nb=2");
  ini.WriteString("s", "c", "x\ny=1");
  ini.WriteString("s", "d", std::string_view("p\0q=1", 5));
  ini.WriteString("s\r\n[t]", "e\n", "v");
  EXPECT_EQ(ini.Text(), "[s]\r\na=one\r\nc=x\r\nd=p\r\ne=v\r\n");
  EXPECT_FALSE(ini.Read("evil", "b"));
}

TEST(IniFileWrite, WrittenValuesReadBack) {
  IniFile ini = IniFile::FromText("");
  ini.WriteInteger("s", "min", INT32_MIN);
  ini.WriteFloat("s", "f", static_cast<double>(0.3f));
  ini.WriteString("s", "t", "C:\\path with spaces\\x.txt");
  const IniFile back = IniFile::FromText(ini.Text());
  EXPECT_EQ(back.ReadInteger("s", "min", 0), INT32_MIN);
  EXPECT_EQ(static_cast<float>(back.ReadFloat("s", "f", 0)), 0.3f);
  EXPECT_EQ(back.ReadString("s", "t", ""), "C:\\path with spaces\\x.txt");
}

using IniFileFlush = TempDir;

TEST_F(IniFileFlush, CreatesAndReplacesKeepingTheMode) {
  const std::string path = Path("a.ini");
  IniFile created(path);
  created.WriteString("s", "k", "v");
  ASSERT_TRUE(created.Flush());
  EXPECT_EQ(Slurp(path), "[s]\r\nk=v\r\n");

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  IniFile again(path);
  EXPECT_EQ(again.ReadString("s", "k", ""), "v");
  again.WriteString("s", "k", "w");
  ASSERT_TRUE(again.Flush());
  EXPECT_EQ(Slurp(path), "[s]\r\nk=w\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(IniFileFlush, NeverReplacesAReadOnlyFile) {
  // Judged from the mode bits, so this holds for root as well.
  const std::string path = Path("ro.ini");
  Spit(path, "[s]\nk=old\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(IsReadOnlyFile(path));
  IniFile ini(path);
  ini.WriteString("s", "k", "new");
  EXPECT_FALSE(ini.Flush());
  EXPECT_EQ(Slurp(path), "[s]\nk=old\n");
  EXPECT_FALSE(IsReadOnlyFile(Path("missing.ini")));
}

TEST_F(IniFileFlush, ReportsAFolderThatIsNotThere) {
  IniFile ini(Path("no/such/folder.ini"));
  ini.WriteString("s", "k", "v");
  EXPECT_FALSE(ini.Flush());
  EXPECT_FALSE(IniFile::FromText("[s]\n").Flush());  // bound to no file
}

TEST_F(IniFileFlush, KeepsASymbolicLinkAndWritesItsTarget) {
  const std::string target = Path("real.ini");
  const std::string link = Path("link.ini");
  Spit(target, "[s]\nk=1\n");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  IniFile ini(link);
  ini.WriteInteger("s", "k", 2);
  ASSERT_TRUE(ini.Flush());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Slurp(target), "[s]\nk=2\n");  // the line keeps its own line end
}

TEST(ProgramFolder, IsTheExecutablesFolderUnlessOverridden) {
  EXPECT_TRUE(std::filesystem::exists(ProgramFolder() + "/platform_tests")) << ProgramFolder();
  {
    ScopedProgramFolder folder("/opt/kestrova/");
    EXPECT_EQ(ProgramFolder(), "/opt/kestrova");
    EXPECT_EQ(ResolveInProgramFolder("Kestrova.ini"), "/opt/kestrova/Kestrova.ini");
    EXPECT_EQ(ResolveInProgramFolder("log/QV4164x.log"), "/opt/kestrova/log/QV4164x.log");
    EXPECT_EQ(ResolveInProgramFolder("/etc/other.ini"), "/etc/other.ini");
  }
  EXPECT_NE(ProgramFolder(), "/opt/kestrova");
}

// A profile of a bare name goes where the system's profile functions put
// one: a Windows folder of the platform's own, in the user's configuration
// folder as the environment names it, made when first asked for.
using WindowsFolderTest = TempDir;

TEST_F(WindowsFolderTest, IsInTheUsersConfigurationFolderNeverTheProgramFolder) {
  using Value = std::optional<std::string>;  // none: unset
  const auto get = [](const char* name) { return std::getenv(name) ? Value(std::getenv(name)) : std::nullopt; };
  const auto set = [](const char* name, const Value& value) {
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  };
  const Value config = get("XDG_CONFIG_HOME"), home = get("HOME");
  const struct {
    Value config, home;
    std::string expected;
  } cases[] = {
      {dir_ + "/xdg", dir_ + "/home", dir_ + "/xdg/kestrova/Windows"},
      {std::nullopt, dir_ + "/home", dir_ + "/home/.config/kestrova/Windows"},
      {"", dir_ + "/home", dir_ + "/home/.config/kestrova/Windows"},
      {"relative/only", std::nullopt, ""},
      {std::nullopt, std::nullopt, ""},
  };
  const ScopedProgramFolder program(dir_ + "/home");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    set("XDG_CONFIG_HOME", c.config);
    set("HOME", c.home);
    EXPECT_EQ(WindowsFolder(), c.expected);
    if (c.expected.empty()) continue;
    EXPECT_TRUE(std::filesystem::is_directory(c.expected));
    EXPECT_EQ(ResolveInWindowsFolder("Kestrova.ini"), c.expected + "/Kestrova.ini");
    EXPECT_NE(ResolveInWindowsFolder("Kestrova.ini"), ResolveInProgramFolder("Kestrova.ini"));
  }
  set("XDG_CONFIG_HOME", config);
  set("HOME", home);
}

}  // namespace
}  // namespace platform
