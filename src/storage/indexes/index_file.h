#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/files/table_file.h"
#include "storage/indexes/index_pages.h"

namespace brn {

class TBRNIndex;
class TBRNIndexKeyLayout;
class TBRNSparseBitmap;
class TBRNIndexPage;

// What the index file needs of its table beyond the common table-file host:
// the indexes in force (as key layouts, in the order of their header
// records), the page and cache sizes and the row file's extent (row
// pointers are checked against it). The table manager implements it from
// the table's index definitions; tests use fakes. Called from the session's
// thread only.
class TBRNIndexFileHost {
 public:
  virtual ~TBRNIndexFileHost() = default;
  virtual int32_t GetIndexCount() = 0;
  // The key layout of index i (0 <= i < count); it stays valid while the
  // index is part of the table.
  virtual const TBRNIndexKeyLayout* GetIndexLayout(int32_t i) = 0;
  // Verification marks an index whose tree is damaged for rebuilding (and
  // clears the mark of a sound one).
  virtual void SetRebuildNeeded(int32_t i, bool value) = 0;
  virtual int32_t GetIndexPageSize() const = 0;
  virtual int32_t GetMaxIndexBufferSize() const = 0;
  // A System table keeps a smaller header area.
  virtual bool IsSystemTable() const = 0;
  // The last block of the table's row file (row pointers lie in 1 .. it).
  virtual int32_t GetRowFileLastBlock() = 0;
};

// The stored counters of one index.
struct TBRNIndexHeader {
  int32_t RootPage = 0;
  int32_t InternalPageCount = 0;  // type 1 pages; the root internal page is not counted
  int32_t InternalKeyCount = 0;   // items of type 1 pages
  int32_t LeafPageCount = 0;      // type 2 and 3 pages
  int32_t KeyCount = 0;           // leaf items: one per indexed row (per word and row)
};

using TBRNIndexHeaders = std::vector<TBRNIndexHeader>;

// The index file of a table: one B-tree per index in pages shared through
// one free list, a 20-byte header record per index, page allocation and
// counting, adding, emptying and dropping single indexes, and verification
// of the trees.
//
// Every page operation and counter acts on the current index (SelectIndex);
// a navigator selects its index before each operation. The page and key
// counts are kept by the page operations themselves. Root pages, links and
// counts read from the file are checked before use: damage raises 601, or is
// reported by verification, never an access outside the file.
//
// One manager serves one session's thread.
class TBRNIndexManager : public TBRNTableFileManager, public TBRNIndexPageHost {
 public:
  static constexpr int32_t kIndexRecordSize = 20;
  static constexpr int32_t kHeaderAreaSize = 8192;
  static constexpr int32_t kSystemHeaderAreaSize = 1024;
  static constexpr int32_t kMinCachePages = 16;

  TBRNIndexManager(TBRNTableFileHost* host, TBRNIndexFileHost* indexHost, TBRNFileManager* files);
  ~TBRNIndexManager() override;

  TBRNIndexFileHost* GetIndexHost() const { return indexHost_; }

  std::string GetFileExtension() const override;
  int32_t GetHeaderAreaSize() const override;
  // The common fields and one record per index of the table, rounded up to
  // a multiple of 8.
  int32_t GetHeaderRecordSize() const override;
  std::string GetBlockKindName() const override { return "index page"; }
  int32_t GetCacheCapacity() const override;
  int32_t GetBlockSize() const override;
  int32_t GetBufferSize() const override;

  // The current index: its number, its definition and its record.
  int32_t GetIndexNumber() const { return current_; }
  // Makes index i current (0 .. index count - 1); std::out_of_range else.
  void SelectIndex(int32_t i);
  // The definition of the current index (nullptr for an index without one)
  // and its key layout.
  TBRNIndex* GetCurrentIndex() const;
  const TBRNIndexKeyLayout* GetCurrentLayout() const;
  int32_t GetIndexCount() const { return int32_t(headers_.size()); }
  const TBRNIndexHeaders& GetHeaders() const { return headers_; }

  // Counts the changes of the trees of this file (keys inserted or deleted
  // by any navigator, indexes emptied or dropped, the header read again). A
  // navigator's copy of a leaf taken before a change may name neighbours
  // that were split, merged or freed since: it finds its key in the tree
  // again instead of following those links.
  uint64_t GetTreeChangeCount() const { return treeChanges_; }
  void NoteTreeChange() { ++treeChanges_; }

  // Pages of the current index. A page handed out is pinned and bound to
  // the current index's layout (its counts checked: 601 when they do not
  // fit the page); ReleasePage gives it back. NewPageBuffer answers a
  // detached page that the caller owns; it counts nothing. GetPageChecked answers
  // nullptr with restart set when another writer changed the table (the
  // cache is then empty and nothing needs releasing); a page number outside
  // 1 .. last page raises 601.
  std::unique_ptr<TBRNIndexPage> NewPageBuffer();
  TBRNIndexPage* GetPage(int32_t n);
  TBRNIndexPage* GetPageChecked(int32_t n, bool& restart);
  TBRNIndexPage* AllocatePage(uint8_t type);
  void FreePage(TBRNIndexPage* page);
  void ReleasePage(TBRNIndexPage* page);

  // Counters of the current index (the changes mark the header modified).
  int32_t GetRootPage() const { return header().RootPage; }
  void SetRootPage(int32_t page);
  int32_t GetInternalPageCount() const { return header().InternalPageCount; }
  int32_t GetInternalKeyCount() const { return header().InternalKeyCount; }
  void SetInternalKeyCount(int32_t count);
  int32_t GetLeafPageCount() const { return header().LeafPageCount; }
  int32_t GetKeyCount() const { return header().KeyCount; }
  void IncInternalPageCount(int32_t by = 1);
  void DecInternalPageCount(int32_t by = 1);
  void IncInternalKeyCount(int32_t by = 1);
  void DecInternalKeyCount(int32_t by = 1);
  void IncLeafPageCount(int32_t by = 1);
  void DecLeafPageCount(int32_t by = 1);
  void IncKeyCount(int32_t by = 1);
  void DecKeyCount(int32_t by = 1);
  int32_t GetAverageInternalKeys() const;
  int32_t GetAverageLeafKeys() const;
  // The bytes a read of n keys touches: whole leaf pages by the average fill.
  int64_t EstimateReadBytes(int32_t n) const;

  // Index maintenance: the table's index list already holds the new index
  // (as its last one) for AddIndex and still holds the dropped one for
  // DropIndex. Each flushes with an operating-system flush. Emptying and
  // dropping read neither the index's tree nor the free list: the free list
  // is rebuilt from every page that no other index's tree reaches, so links
  // left damaged by a cut-short flush are never followed. DropIndex answers
  // false when the user cancelled; nothing has changed then.
  void AddIndex(int32_t i);
  void EmptyIndex(int32_t i);
  bool DropIndex(int32_t i);
  // Called right before the file's contents are replaced by its ".Old"
  // copy, whose header lists the indexes the table lists now: forgets the
  // records of indexes added since, so that the header is read at the
  // copy's size.
  void FitHeadersToIndexes();

  // TBRNIndexPageHost: the pages count their keys into the current index.
  void ChangeLeafKeyCount(int32_t delta) override { IncKeyCount(delta); }
  void ChangeInternalKeyCount(int32_t delta) override { IncInternalKeyCount(delta); }

  bool VerifyHeader(bool& errorsFound, bool repair) override;
  bool VerifyContents(bool& errorsFound, bool repair) override;

 protected:
  void InitHeader() override;
  void ReadHeaderFields(TBRNMemoryStream& stream) override;
  void WriteHeaderFields(TBRNMemoryStream& stream, bool incrementCounter) override;
  TBRNTableFileBuffer* CreateBuffer() override;

 private:
  struct TreeCounts {
    int32_t InternalPages = 0;
    int32_t InternalKeys = 0;
    int32_t LeafPages = 0;
    int32_t LeafKeys = 0;
  };
  struct TreeWalk;

  TBRNIndexHeader& header();
  const TBRNIndexHeader& header() const;
  void sizeHeaders();
  int32_t tableIndexCount() const;
  TBRNIndexPage* bind(TBRNTableFileBuffer* buffer);
  struct PageSweep;
  // Zeroes record i and rebuilds the free list from the pages the other
  // indexes' trees do not reach; false when the user cancelled (cancellable
  // only), before anything changed.
  bool releaseIndexPages(int32_t i, bool cancellable);
  // Sets the pages of the tree under page in used; false when cancelled.
  bool markTreePages(TBRNSparseBitmap& used, int32_t page, int32_t depth, PageSweep& sweep);
  // Pins block n, its header fields parsed; 601 when it cannot be read.
  TBRNTableFileBuffer* pinBlock(int32_t n);
  void verifyIndexTree(TreeWalk& walk, int32_t page, const TBRNIndexKey* parentKey, int32_t depth);
  std::string indexName(int32_t i);

  TBRNIndexFileHost* indexHost_;
  TBRNIndexHeaders headers_;
  int32_t current_ = 0;
  uint64_t treeChanges_ = 0;
};

}  // namespace brn
