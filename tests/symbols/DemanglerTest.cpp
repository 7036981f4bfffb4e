// Microsoft C++ names demangled in both styles, and the names that are left
// as they are: no name at all, too long, too long once demangled, or built
// to expand without bound.

#include <gtest/gtest.h>

#include <string>

#include "Demangler.h"

namespace sorvanta {
namespace {

TEST(Demangler, RealNamesInBothStyles) {
  struct Case {
    const char* mangled;
    const char* full;
    const char* symbolizer;
  };
  const Case cases[] = {
      {"?a@@YAHH@Z", "int __cdecl a(int)", "a(int)"},
      {"?get@Foo@@QEBAHXZ", "public: int __cdecl Foo::get(void) const", "Foo::get(void) const"},
      {"??1Foo@@UEAA@XZ", "public: virtual __cdecl Foo::~Foo(void)", "Foo::~Foo(void)"},
      {"?run@Task@ns@@SAXPEAV12@@Z", "public: static void __cdecl ns::Task::run(class ns::Task *)",
       "ns::Task::run(class ns::Task *)"},
      {"?x@@3HA", "int x", "int x"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_TRUE(DemangleMicrosoft(c.mangled, DemangleStyle::kFull, &text)) << c.mangled;
    EXPECT_EQ(text, c.full);
    EXPECT_TRUE(DemangleMicrosoft(c.mangled, DemangleStyle::kSymbolizer, &text)) << c.mangled;
    EXPECT_EQ(text, c.symbolizer);
  }
}

// Whether the name is demangled into *text; a refused one leaves the text
// untouched.
bool Demangles(const std::string& mangled, std::string* text = nullptr) {
  std::string out = "untouched";
  const bool demangled = DemangleMicrosoft(mangled, DemangleStyle::kFull, &out);
  if (!demangled) {
    EXPECT_EQ(out, "untouched") << mangled.substr(0, 40);
  }
  if (text) *text = out;
  return demangled;
}

TEST(Demangler, NoNameOrANameLongerThanCompilersWriteIsLeftAlone) {
  for (const char* notAName : {"", "main", "?", "??", "?a@@YAHH", "_ZN3foo3barEv"}) {
    EXPECT_FALSE(Demangles(notAName)) << notAName;
  }
  // "?nnn...@@YAXXZ": a function of 4096 characters, then one of 4097.
  EXPECT_TRUE(Demangles("?" + std::string(kMaxMangledLength - 8, 'n') + "@@YAXXZ"));
  EXPECT_FALSE(Demangles("?" + std::string(kMaxMangledLength - 7, 'n') + "@@YAXXZ"));
}

TEST(Demangler, TextLongerThanTheLimitIsRefused) {
  // f(class X, void (*)(X, ... ten times), then that pointer type once or
  // twice more by back-reference. X's 3000-character name makes each
  // pointer type about 30,000 characters: once more is within the limit,
  // twice more is past it.
  const std::string prefix = "?f@@YAXV" + std::string(3000, 'X') + "@@P6AX0000000000@Z";
  std::string text;
  ASSERT_TRUE(Demangles(prefix + "1@Z", &text));
  EXPECT_GT(text.size(), 60000u);
  EXPECT_LE(text.size(), kMaxDemangledLength);
  EXPECT_FALSE(Demangles(prefix + "11@Z"));
}

// Each function-pointer parameter takes ten back-references to the one
// before it, so every level multiplies the text by ten: these 157
// characters would print about 12 GB (six levels print 12 MB). The text is
// bounded before it is printed, so the name is refused at once.
TEST(Demangler, BackReferenceBombsAreRefusedBeforePrinting) {
  std::string bomb = "?f@@YAXVX@@";
  for (char level = '0'; level < '9'; ++level) bomb += "P6AX" + std::string(10, level) + "@Z";
  bomb += "@Z";
  ASSERT_EQ(bomb.size(), 157u);
  EXPECT_FALSE(Demangles(bomb));
  std::string text = "untouched";
  EXPECT_FALSE(DemangleMicrosoft(bomb, DemangleStyle::kSymbolizer, &text));
  EXPECT_EQ(text, "untouched");
  // A long function name raises the budget, so the bomb takes more than
  // the quick node-by-node count allows before it is over it.
  const std::string longer = "?" + std::string(400, 'f') + bomb.substr(2);
  EXPECT_FALSE(Demangles(longer));
  // As the function a local static lives in: the parser writes the
  // function's whole text while it reads the scope, before any tree.
  EXPECT_FALSE(Demangles("?x@?1?" + bomb + "@4HA"));
}

}  // namespace
}  // namespace sorvanta
