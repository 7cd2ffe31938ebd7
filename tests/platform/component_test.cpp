#include "platform/component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/bits.h"
#include "platform/params.h"
#include "platform/string_list.h"

namespace brn {
namespace {

// Records what it is told, into a journal shared by all probes. Others are
// named by the tag registered for their address: a component being inserted
// or freed is not a whole Probe at that moment.
struct Journal {
  std::vector<std::string> Lines;
  std::vector<std::pair<const TComponent*, std::string>> Tags;
  std::string TagOf(const TComponent* component) const {
    for (const auto& [address, tag] : Tags)
      if (address == component) return tag;
    return "?";
  }
};

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string tag, Journal& journal)
      : TComponent(owner), tag_(std::move(tag)), journal_(journal) {}
  ~Probe() override { journal_.Lines.push_back("free " + tag_); }

 protected:
  void Loaded() override { journal_.Lines.push_back("loaded " + tag_); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    journal_.Lines.push_back(tag_ + (operation == TOperation::opInsert ? " +" : " -") +
                             journal_.TagOf(component));
  }

 private:
  std::string tag_;
  Journal& journal_;
};

// Tags the probe's address before it is built, so that the notifications of
// its own insertion can name it.
Probe* NewProbe(TComponent* owner, const std::string& tag, Journal& journal) {
  void* memory = ::operator new(sizeof(Probe));
  journal.Tags.emplace_back(static_cast<const TComponent*>(static_cast<Probe*>(memory)), tag);
  return new (memory) Probe(owner, tag, journal);
}

TEST(ComponentTest, OwnerFreesChildrenLastFirstAndTellsTheSiblings) {
  Journal journal;
  Probe* form = NewProbe(nullptr, "form", journal);
  NewProbe(form, "a", journal);
  Probe* b = NewProbe(form, "b", journal);
  EXPECT_EQ(form->GetComponentCount(), 2);
  EXPECT_EQ(journal.Lines, (std::vector<std::string>{"form +a", "form +b", "a +b"}));

  // A child freed on its own leaves its owner, whose other children hear.
  journal.Lines.clear();
  delete b;
  EXPECT_EQ(form->GetComponentCount(), 1);
  EXPECT_EQ(journal.Lines, (std::vector<std::string>{"free b", "form -b", "a -b"}));

  NewProbe(form, "c", journal);
  journal.Lines.clear();
  delete form;
  EXPECT_EQ(journal.Lines.front(), "free form");
  EXPECT_EQ(journal.Lines.back(), "free a");
  // c went before a.
  EXPECT_LT(std::find(journal.Lines.begin(), journal.Lines.end(), "free c"),
            std::find(journal.Lines.begin(), journal.Lines.end(), "free a"));
}

TEST(ComponentTest, FreeNotificationTellsTheSubscriberOnce) {
  Journal journal;
  Probe* watcher = NewProbe(nullptr, "watcher", journal);
  Probe* watched = NewProbe(nullptr, "watched", journal);
  watched->FreeNotification(watcher);
  watched->FreeNotification(watcher);
  delete watched;
  EXPECT_EQ(journal.Lines, (std::vector<std::string>{"free watched", "watcher -watched"}));
  // The watcher forgot it: freeing the watcher touches no freed component.
  journal.Lines.clear();
  delete watcher;
  EXPECT_EQ(journal.Lines, (std::vector<std::string>{"free watcher"}));
}

TEST(ComponentTest, LoadingBracketEndsInLoadedAndDesigningIsInherited) {
  Journal journal;
  Probe form(nullptr, "form", journal);
  form.SetDesigning(true);
  Probe* child = NewProbe(&form, "child", journal);
  EXPECT_TRUE(child->IsDesigning());
  child->BeginLoad();
  EXPECT_TRUE(child->IsLoading());
  child->EndLoad();
  EXPECT_FALSE(child->IsLoading());
  EXPECT_EQ(journal.Lines.back(), "loaded child");
}

TEST(ComponentTest, DatabaseErrorAndAbortAreDistinct) {
  EXPECT_THROW(DatabaseError("no"), EDatabaseError);
  EXPECT_THROW(Abort(), EAbort);
  std::string handled;
  SetApplicationExceptionHandler([&](const std::exception& error) { handled = error.what(); });
  HandleApplicationException(EDatabaseError("shown"));
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(handled, "shown");
}

TEST(ComponentTest, BitsGrowAndFindTheLowestClearBit) {
  TBits bits;
  EXPECT_EQ(bits.OpenBit(), 0);
  for (int32_t i = 0; i < 3; ++i) bits.Set(bits.OpenBit(), true);
  EXPECT_EQ(bits.GetSize(), 3);
  bits.Set(1, false);
  EXPECT_EQ(bits.OpenBit(), 1);
  EXPECT_FALSE(bits.Get(100));
  EXPECT_THROW(bits.Set(-1, true), std::out_of_range);
}

TEST(ComponentTest, StringListTellsEveryChange) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&] { ++changes; };
  list.Add("*");
  list.Assign(std::vector<std::string>{"a", "b"});
  list.Clear();
  list.Clear();  // already empty: no change
  EXPECT_EQ(changes, 3);
}

TEST(ComponentTest, ParamsAssignValuesByName) {
  TParams target;
  target.CreateParam(ftInteger, "Count", ptInput);
  target.CreateParam(ftString, "Name", ptInput);
  TParams source;
  source.CreateParam(ftInteger, "NAME", ptInput).SetValue(TVariant::FromString("x"));
  source.CreateParam(ftInteger, "Other", ptInput).SetValue(TVariant::FromInteger(1));
  target.AssignValues(source);
  EXPECT_FALSE(target.Get(0).Bound);
  EXPECT_TRUE(target.Get(1).Bound);
  EXPECT_EQ(target.Get(1).GetValue().AsString(), "x");
  EXPECT_EQ(target.FindParam("count"), &target.Get(0));
  EXPECT_EQ(target.FindParam("none"), nullptr);
}

}  // namespace
}  // namespace brn
