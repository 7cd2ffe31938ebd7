#include "metadata/modules/text_filters.h"

#include <dlfcn.h>

#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/core/memory_stream.h"
#include "metadata/module_test_support.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;

// A test hook of the word generator module, found while it is loaded.
template <typename Hook>
Hook wordGeneratorHook(const char* name) {
  void* library = dlopen(kWordGeneratorModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  auto hook = reinterpret_cast<Hook>(dlsym(library, name));
  dlclose(library);
  return hook;
}

int32_t openGeneratorInstances() {
  auto hook = wordGeneratorHook<int32_t (*)()>("TestOpenInstances");
  return hook != nullptr ? hook() : -1;
}

// Every word of text, as a text index collects them.
std::vector<std::string> wordsOf(TBRNWordGenerator& generator, const std::string& text) {
  std::vector<std::string> words;
  int32_t position = 1;
  std::string word;
  for (;;) {
    generator.NextWord(0, text, position, word, false);
    if (word.empty()) break;
    words.push_back(word);
  }
  return words;
}

class TextFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root.AddModule("Filters", kTextFilterModule, 1);
    root.AddModule("Words", kWordGeneratorModule, 2);
    root.AddModule("Routines", kRoutinesModule, 3);
  }
  ModuleRoot root;
};

TEST_F(TextFilterTest, DocumentsBecomeWordsThroughFilterAndGenerator) {
  TBRNTextFilter* filter = root.AddFilter("Html", "HTML", "filters");
  TBRNWordGenerator* generator = root.AddGenerator("Plain", "WORDS");
  TBRNTextFilter* found = root.TextFilters.FindFilterForType("html");
  ASSERT_EQ(found, filter);
  std::string text;
  found->Filter("html", "<p>Hello, <b>World</b>!</p> 42<br>times", text);
  EXPECT_EQ(text, "Hello, World! 42times");
  EXPECT_THAT(wordsOf(*generator, text), ElementsAre("hello", "world", "42times"));
  // Each keeps its instance, and so its module, until it is closed.
  EXPECT_TRUE(filter->IsOpen());
  EXPECT_TRUE(generator->IsOpen());
  EXPECT_EQ(root.Modules.GetModule(0)->GetReferenceCount(), 1);
  EXPECT_EQ(openGeneratorInstances(), 1);
  root.TextFilters.CloseAll();
  root.WordGenerators.CloseAll();
  EXPECT_FALSE(IsMapped(kTextFilterModule));
  EXPECT_FALSE(IsMapped(kWordGeneratorModule));
  EXPECT_THAT(root.Events,
              ElementsAre("load Filters", "load Words", "unload Filters", "unload Words"));
}

TEST_F(TextFilterTest, TextWithoutAFilterForItsTypeStaysUnfiltered) {
  root.AddFilter("Html", "HTML", "Filters");
  EXPECT_EQ(root.TextFilters.FindFilterForType("PDF"), nullptr);
  EXPECT_EQ(root.TextFilters.FindFilterForType(""), nullptr);
  // A filter asked for a type its module does not know raises its message.
  std::string text = "unchanged";
  EBRNException error =
      CaughtError([&] { root.TextFilters.GetFilter(0)->Filter("PDF", "%PDF-1.4", text); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_THAT(error.ErrorMessage, EndsWith("(Execution Error: Unknown filter type PDF)"));
  EXPECT_EQ(text, "unchanged");
}

TEST_F(TextFilterTest, ModuleProblemsAtFirstUse) {
  TBRNTextFilter* wrongKind = root.AddFilter("Wrong", "HTML", "Routines");
  std::string text;
  EBRNException error = CaughtError([&] { wrongKind->Filter("HTML", "x", text); });
  EXPECT_EQ(error.ErrorMessage,
            "An error occurred with the module Routines (The module is not a Text Filter module)");
  EXPECT_FALSE(wrongKind->IsOpen());
  EXPECT_FALSE(IsMapped(kRoutinesModule));

  TBRNWordGenerator* missing = root.AddGenerator("Lost", "Nowhere");
  int32_t position = 1;
  std::string word;
  error = CaughtError([&] { missing->NextWord(0, "a b", position, word, false); });
  EXPECT_EQ(error.ErrorCode, 401);
  EXPECT_EQ(error.ErrorMessage, "The module Nowhere does not exist");
}

TEST_F(TextFilterTest, AnInstanceThatCannotBeOpenedReleasesTheModule) {
  TBRNWordGenerator* generator = root.AddGenerator("Plain", "Words");
  TBRNModule* words = root.Modules.GetModule(1);
  // Keep the library loaded to reach its test hook.
  words->Acquire(0);
  wordGeneratorHook<void (*)()>("TestFailNextOpen")();
  int32_t position = 1;
  std::string word;
  EBRNException error = CaughtError([&] { generator->NextWord(0, "a", position, word, false); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_THAT(error.ErrorMessage, EndsWith("(Execution Error: The call OpenBRNModule failed)"));
  EXPECT_FALSE(generator->IsOpen());
  EXPECT_EQ(words->GetReferenceCount(), 1);
  // The next use opens it.
  generator->NextWord(0, "a", position, word, false);
  EXPECT_EQ(word, "a");
  EXPECT_EQ(words->GetReferenceCount(), 2);
  generator->Close();
  generator->Close();
  EXPECT_EQ(openGeneratorInstances(), 0);
  EXPECT_EQ(words->GetReferenceCount(), 1);
  words->Release();
  EXPECT_FALSE(IsMapped(kWordGeneratorModule));
}

TEST_F(TextFilterTest, AFailedCloseStillReleasesTheModule) {
  TBRNWordGenerator* generator = root.AddGenerator("Plain", "Words");
  int32_t position = 1;
  std::string word;
  generator->NextWord(0, "a", position, word, false);
  wordGeneratorHook<void (*)()>("TestFailNextClose")();
  // The instance is gone after the call, so there is no message to ask for.
  EBRNException error = CaughtError([&] { generator->Close(); });
  EXPECT_EQ(error.ErrorCode, 202);
  EXPECT_THAT(error.ErrorMessage,
              EndsWith("(Execution Error: The module instance could not be closed)"));
  EXPECT_FALSE(generator->IsOpen());
  EXPECT_EQ(root.Modules.GetModule(1)->GetReferenceCount(), 0);
  EXPECT_FALSE(IsMapped(kWordGeneratorModule));
}

TEST_F(TextFilterTest, AGeneratorWhoseModuleObjectWasFreedForgetsItsInstance) {
  TBRNWordGenerator* generator = root.AddGenerator("Plain", "Words");
  int32_t position = 1;
  std::string word;
  generator->NextWord(0, "a", position, word, false);
  ASSERT_TRUE(generator->IsOpen());
  // The configuration drops the module object (a reload that no longer
  // holds it): its library goes with it, and with the library the instance.
  delete root.Modules.RemoveObject(1);
  EXPECT_FALSE(IsMapped(kWordGeneratorModule));
  EXPECT_NO_THROW(generator->Close());
  EXPECT_FALSE(generator->IsOpen());
}

TEST(TextFilterListTest, FiltersClashOnlyWhenNameAndTypeMatch) {
  ModuleRoot root;
  root.AddFilter("Docs", "HTML", "M");
  EXPECT_NO_THROW(root.AddFilter("Docs", "PDF", "M"));
  EXPECT_NO_THROW(root.AddFilter("Other", "HTML", "M"));
  EBRNException error = CaughtError([&] { root.AddFilter("DOCS", "html", "M"); });
  EXPECT_EQ(error.ErrorCode, 400);
  EXPECT_EQ(error.ErrorMessage, "The text filter Docs already exists");
  EXPECT_EQ(root.TextFilters.Count(), 3);
  // The first filter of a type wins.
  EXPECT_EQ(root.TextFilters.FindFilterForType("Html")->Name, "Docs");
}

TEST(TextFilterObjectTest, RecordsComparisonAndSetters) {
  ModuleRoot root;
  TBRNTextFilter* filter = root.AddFilter("Docs", "HTML", "Filters");
  filter->Description = "Web pages";
  TBRNMemoryStream stream;
  filter->SaveToStream(stream, false);
  RecordBuilder expected;
  expected.Int(filter->ID)
      .Str("Docs")
      .Str("Web pages")
      .Bool(false)
      .Bool(false)
      .Str("HTML")
      .Str("Filters");
  EXPECT_EQ(StreamBytes(stream), expected.Bytes());
  TBRNTextFilter copy(&root);
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  EXPECT_TRUE(copy.IsEqual(filter, true));
  copy.ModuleName = "FILTERS";
  EXPECT_TRUE(copy.IsEqual(filter, true));
  copy.FilterType = "html";
  EXPECT_FALSE(copy.IsEqual(filter, true));

  root.Modified = false;
  filter->SetFilterType("html");
  EXPECT_EQ(filter->FilterType, "HTML");
  EXPECT_FALSE(root.Modified);
  filter->SetFilterType("XML");
  EXPECT_EQ(filter->FilterType, "XML");
  EXPECT_TRUE(root.Modified);

  TBRNModule* module = root.AddModule("FILTERS", kTextFilterModule);
  root.Modified = false;
  filter->SetModule(module);
  EXPECT_EQ(filter->ModuleName, "FILTERS");
  EXPECT_TRUE(root.Modified);
  EXPECT_EQ(filter->GetModule(), module);
}

TEST(TextFilterObjectTest, DDLText) {
  ModuleRoot root;
  TBRNTextFilter* filter = root.AddFilter("Web Docs", "it's", "Filters");
  EXPECT_EQ(filter->GetCreateSQL(false, false),
            "CREATE TEXT FILTER \"Web Docs\"\r\nTYPE 'it''s'\r\nMODULE \"Filters\"");
  filter->Description = "Pages  ";
  EXPECT_EQ(filter->GetCreateSQL(false, false),
            "CREATE TEXT FILTER \"Web Docs\"\r\nTYPE 'it''s'\r\nMODULE \"Filters\"\r\n"
            "DESCRIPTION 'Pages'");
  EXPECT_EQ(filter->GetDropSQL(false, false), "DROP TEXT FILTER \"Web Docs\"");

  TBRNWordGenerator* generator = root.AddGenerator("Stems", "Words");
  EXPECT_EQ(generator->GetCreateSQL(false, false),
            "CREATE WORD GENERATOR \"Stems\"\r\nMODULE \"Words\"");
  EXPECT_EQ(generator->GetDropSQL(false, false), "DROP WORD GENERATOR \"Stems\"");
  TBRNWordGenerator* builtIn = root.AddGenerator(kDefaultWordGeneratorName, "");
  builtIn->Description = "Built in";
  EXPECT_EQ(builtIn->GetCreateSQL(false, false), "");
  // Closing the built-in generator loads nothing.
  root.WordGenerators.CloseAll();
  EXPECT_TRUE(root.Events.empty());
  EXPECT_EQ(generator->GetObjectTypeName(), "word generator");
  EXPECT_EQ(filter->GetObjectTypeName(), "text filter");
}

TEST(WordGeneratorTest, ReferrersAreTheDatabaseEntriesAndRecordsRoundTrip) {
  ModuleRoot root;
  TestTables databases(&root, "database");
  root.Databases = &databases;
  // A database entry that refers to the generator by ID stands for one whose
  // text indexes use it.
  TBRNWordGenerator* generator = root.AddGenerator("Stems", "Words");
  TestTable* database = databases.Add("Sales", {generator->ID});
  EBRNException error = CaughtError([&] { generator->CheckNotReferenced("dropped"); });
  EXPECT_EQ(error.ErrorCode, 201);
  EXPECT_EQ(generator->GetReferrers()->GetItem(0), database);
  TBRNMemoryStream stream;
  generator->SaveToStream(stream, false);
  TBRNWordGenerator copy(&root);
  stream.SetPosition(0);
  copy.LoadFromStream(stream);
  EXPECT_EQ(copy.ModuleName, "Words");
  EXPECT_TRUE(copy.IsEqual(generator, true));
}

}  // namespace
}  // namespace brn::testing
