#pragma once

#include <cstdint>
#include <string>

namespace brn {

class TBRNExprToken;
class TBRNMemoryStream;

// The holder of a syntax tree's root, from which every compiled SQL object
// derives. Whether the root is owned is what OwnsRoot answers; the answer of
// an object must not change while it holds a root. Used by one thread at a
// time.
class TBRNExpr {
 public:
  TBRNExpr() = default;
  // Calls ClearRoot. Virtual calls made here reach this class only, so a
  // subclass whose OwnsRoot answers False, or whose ClearRoot does more, calls
  // ClearRoot in its own destructor (Root is then nil and nothing is left to
  // do here).
  virtual ~TBRNExpr();
  TBRNExpr(const TBRNExpr&) = delete;
  TBRNExpr& operator=(const TBRNExpr&) = delete;

  // The noun used in error messages ("expression").
  virtual std::string GetKindName() const;
  virtual bool OwnsRoot() const;
  // Reports an error in the text; does nothing here. Compiled expressions
  // raise error 700 with the line and column (and then never return).
  virtual void ReportError(const std::string& Message, int32_t Line, int32_t Column);
  // ClearRoot, then the root becomes a deep copy of Node when the root is
  // owned, else Node itself (nil allowed).
  virtual void SetRoot(TBRNExprToken* Node);
  // Instance size plus the root's memory size when the root is owned.
  virtual int64_t MemorySize() const;
  // Frees an owned tree or forgets a shared root.
  virtual void ClearRoot();
  // With WithTree: SetRoot with Other's root.
  virtual void Assign(const TBRNExpr* Other, bool WithTree);
  // Structural equality of the two roots.
  virtual bool Equals(const TBRNExpr* Other) const;
  virtual void WriteToStream(TBRNMemoryStream& Stream);
  virtual void ReadFromStream(TBRNMemoryStream& Stream);

  TBRNExprToken* Root = nullptr;
};

}  // namespace brn
