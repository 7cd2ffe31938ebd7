// Parsing a mixed set of a few hundred statements (joins, subqueries,
// derived tables, set operations, long IN lists, long expressions, INSERT,
// UPDATE, DELETE) against the foundation's SQL text scanner over the same
// text, the reference. Both report statements per second (items) and bytes
// per second, so their ratio is the cost of building the trees over merely
// tokenising the text.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/text/exception.h"
#include "foundation/text/sql_text_scanner.h"
#include "sql/parser/expr_parser.h"
#include "sql/tree/compiled_expr.h"
#include "sql/tree/expr_token.h"

namespace {

using brn::TBRNParseFlags;

constexpr TBRNParseFlags kFlags =
    brn::pcQueries | brn::pcSchemaQualifier | brn::pcColumnQualifier | brn::pcDynamicParams;

class Corpus {
 public:
  Corpus() {
    std::mt19937 random(20261210);
    const auto pick = [&random](int from, int to) {
      return std::uniform_int_distribution<int>(from, to)(random);
    };
    const std::vector<std::string> tables = {"Customers", "Orders", "Lines",   "Products",
                                             "Regions",   "Stock",  "Invoices"};
    const std::vector<std::string> columns = {"ID",     "CustomerID", "Amount", "Qty",
                                              "Price",  "Placed",     "Status", "City",
                                              "Region", "Discount",   "Weight", "Name"};
    const auto column = [&](const std::string& alias) {
      return alias + "." + columns[size_t(pick(0, int(columns.size()) - 1))];
    };
    const auto condition = [&](const std::string& a, const std::string& b) {
      switch (pick(0, 4)) {
        case 0:
          return column(a) + " = " + column(b);
        case 1:
          return column(a) + " BETWEEN " + std::to_string(pick(1, 100)) + " AND " +
                 std::to_string(pick(100, 1000));
        case 2:
          return column(a) + " LIKE 'A%' AND " + column(b) + " IS NOT NULL";
        case 3:
          return "(" + column(a) + " > " + std::to_string(pick(1, 500)) + " OR " + column(b) +
                 " <> 'closed')";
        default:
          return column(a) + " * " + column(b) + " >= " + std::to_string(pick(10, 99)) + ".5";
      }
    };
    const auto inList = [&](int count) {
      std::string list = "(";
      for (int i = 0; i < count; ++i) {
        if (i > 0) list += ", ";
        list +=
            pick(0, 3) == 0 ? "'code" + std::to_string(i) + "'" : std::to_string(pick(1, 99999));
      }
      return list + ")";
    };
    const auto longExpression = [&](int terms) {
      std::string text = column("o");
      for (int i = 0; i < terms; ++i) {
        static const char* const kOps[] = {" + ", " - ", " * ", " / "};
        text += kOps[pick(0, 3)];
        text += pick(0, 1) ? column("o") : std::to_string(pick(1, 1000));
        if (i % 7 == 6) text = "(" + text + ")";
      }
      return text;
    };

    for (int n = 0; n < 300; ++n) {
      std::string sql;
      switch (n % 10) {
        case 0:  // multi-way join with a long WHERE
          sql =
              "SELECT c.Name, o.ID, l.Qty * l.Price AS Total\nFROM Customers c\n"
              "  INNER JOIN Orders o ON o.CustomerID = c.ID\n"
              "  LEFT OUTER JOIN Lines l ON l.ID = o.ID AND " +
              condition("l", "o") + "\n  LEFT JOIN Products p ON p.ID = l.ID\nWHERE " +
              condition("c", "o") + " AND " + condition("o", "l") + "\nORDER BY c.Name, o.ID DESC";
          break;
        case 1:  // long IN list
          sql = "SELECT o.ID, o.Amount FROM Orders o WHERE o.CustomerID IN " +
                inList(pick(50, 200)) + " AND o.Status NOT IN ('closed', 'void')";
          break;
        case 2:  // subqueries
          sql =
              "SELECT c.ID, c.Name FROM Customers c WHERE c.ID IN (SELECT o.CustomerID FROM "
              "Orders o WHERE " +
              condition("o", "o") +
              ") AND c.Region = (SELECT r.ID FROM Regions r WHERE r.Name = '" + std::to_string(n) +
              "')";
          break;
        case 3:  // derived table and grouping
          sql =
              "SELECT d.City, d.Amount FROM (SELECT c.City, o.Amount FROM Customers c, Orders o "
              "WHERE o.CustomerID = c.ID) AS d GROUP BY d.City, d.Amount HAVING d.Amount > " +
              std::to_string(pick(100, 900)) + " ORDER BY d.City";
          break;
        case 4:  // long arithmetic expression
          sql = "SELECT " + longExpression(pick(30, 80)) + " AS Score FROM Orders o WHERE " +
                longExpression(pick(10, 30)) + " > 0";
          break;
        case 5:  // set operation
          sql = "SELECT i.ID, i.Amount FROM Invoices i WHERE " + condition("i", "i") +
                "\nUNION ALL\nSELECT o.ID, o.Amount FROM Orders o WHERE " + condition("o", "o") +
                "\nEXCEPT SELECT s.ID, s.Qty FROM Stock s\nORDER BY 2 DESC RANGE 1 TO 100";
          break;
        case 6: {  // multi-row insert
          sql = "INSERT INTO Lines (ID, Qty, Price, Status) VALUES ";
          const int rows = pick(5, 40);
          for (int r = 0; r < rows; ++r) {
            if (r > 0) sql += ",\n  ";
            sql += "(" + std::to_string(n * 100 + r) + ", " + std::to_string(pick(1, 50)) + ", " +
                   std::to_string(pick(1, 999)) + ".99, 'open')";
          }
          break;
        }
        case 7:  // update
          sql = "UPDATE Orders o SET o.Amount = o.Amount * 1.05 + " + std::to_string(pick(1, 9)) +
                ", o.Status = 'repriced', (o.Qty, o.Weight) = (?, ?) WHERE " + condition("o", "o") +
                " AND o.ID IN " + inList(pick(5, 20));
          break;
        case 8:  // delete and insert from a query
          sql = pick(0, 1)
                    ? "DELETE FROM Stock s WHERE " + condition("s", "s") + " AND s.ID NOT IN " +
                          inList(pick(10, 60))
                    : "INSERT INTO Invoices (ID, Amount) SELECT o.ID, o.Amount FROM Orders o "
                      "WHERE " +
                          condition("o", "o");
          break;
        default:  // short lookups, the bulk of real traffic
          sql = "SELECT * FROM " + tables[size_t(pick(0, int(tables.size()) - 1))] +
                " t WHERE t.ID = ? /* lookup */";
          break;
      }
      sql += ";";
      Bytes += int64_t(sql.size());
      Texts.push_back(std::move(sql));
    }
    for (const std::string& text : Texts) {
      auto owner = std::make_unique<brn::TBRNCompiledExpr>();
      owner->SQL = text;
      owner->SQLLength = int32_t(text.size());
      Owners.push_back(std::move(owner));
    }
  }

  std::vector<std::string> Texts;
  std::vector<std::unique_ptr<brn::TBRNCompiledExpr>> Owners;
  int64_t Bytes = 0;
};

const Corpus& SharedCorpus() {
  static const Corpus corpus;
  return corpus;
}

void BM_ParseStatements(benchmark::State& state) {
  const Corpus& corpus = SharedCorpus();
  // One parser reused for every statement, as a session does.
  brn::TBRNExprParser parser;
  for (const auto& owner : corpus.Owners) {
    try {
      parser.BeginParse(*owner);
      brn::TBRNExprToken* root = parser.ParseStatement(kFlags);
      brn::FreeExprTree(root);
    } catch (const brn::EBRNException& error) {
      state.SkipWithError((error.ErrorMessage + " in: " + owner->SQL).c_str());
      return;
    }
  }
  for (auto _ : state) {
    for (const auto& owner : corpus.Owners) {
      parser.BeginParse(*owner);
      brn::TBRNExprToken* root = parser.ParseStatement(kFlags);
      benchmark::DoNotOptimize(root);
      brn::FreeExprTree(root);
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(corpus.Owners.size()));
  state.SetBytesProcessed(state.iterations() * corpus.Bytes);
}
BENCHMARK(BM_ParseStatements);

// The reference: the foundation's scanner reading the same statements token
// by token.
void BM_Reference_ScanSQLTokens(benchmark::State& state) {
  const Corpus& corpus = SharedCorpus();
  const brn::TBRNSQLParamHandler noParams;
  std::string token;
  for (auto _ : state) {
    for (const std::string& text : corpus.Texts) {
      int32_t position = 1;
      do {
        brn::ParseSQLText(text, position, token, true, ';', noParams);
        benchmark::DoNotOptimize(token.data());
      } while (!token.empty());
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t(corpus.Texts.size()));
  state.SetBytesProcessed(state.iterations() * corpus.Bytes);
}
BENCHMARK(BM_Reference_ScanSQLTokens);

}  // namespace
