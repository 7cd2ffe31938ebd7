#include "foundation/text/sql_text_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brn {
namespace {

struct Prepared {
  std::string text;
  std::vector<std::string> params;
  int32_t position = 1;
};

Prepared prepare(std::string_view sql) {
  Prepared result;
  ParseSQLText(sql, result.position, result.text, false, ';',
               [&](std::string_view name) { result.params.emplace_back(name); });
  return result;
}

TEST(ParseSQLTextTest, ParametersBecomeMarkersOutsideStringsAndComments) {
  struct Case {
    const char* sql;
    const char* expected;
    std::vector<std::string> params;
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a = :p1 AND b = :\"q\" -- :x",
       "SELECT * FROM t WHERE a = ? AND b = ? -- :x",
       {"p1", "q"}},
      {"SELECT '10:30', \"a:b\" FROM t /* :c */ WHERE x=:x;\r\n  SELECT :x",
       "SELECT '10:30', \"a:b\" FROM t /* :c */ WHERE x=?;\r\n  SELECT ?",
       {"x", "x"}},
      {"-- :a\n:b", "-- :a\n?", {"b"}},
      {"'it'':s' :v", "'it'':s' ?", {"v"}},
      {"a : :\"\" x:", "a : :\"\" x:", {}},
      {"a::b", "a:?", {"b"}},
      {":\"My Param\"+1", "?+1", {"My Param"}},
      {"x = :\xE4t2", "x = ?", {"\xE4t2"}},
      {"'open :p", "'open :p", {}},
      {"/* open :p", "/* open :p", {}},
      {"", "", {}},
  };
  for (const Case& c : cases) {
    Prepared p = prepare(c.sql);
    EXPECT_EQ(p.text, c.expected) << c.sql;
    EXPECT_EQ(p.params, c.params) << c.sql;
    EXPECT_EQ(p.position, int32_t(std::string_view(c.sql).size()) + 1) << c.sql;
  }
}

TEST(ParseSQLTextTest, WorksWithoutAHandlerAndFromAPosition) {
  std::string result;
  int32_t position = 5;
  ParseSQLText("xxx SELECT :a", position, result, false, ';', nullptr);
  EXPECT_EQ(result, "SELECT ?");
  EXPECT_EQ(position, 14);
}

std::vector<std::string> tokens(std::string_view sql) {
  std::vector<std::string> result;
  int32_t position = 1;
  for (int guard = 0; guard < 100; ++guard) {
    std::string token;
    ReadSQLToken(sql, position, token);
    if (token.empty()) break;
    result.push_back(token);
  }
  return result;
}

TEST(ReadSQLTokenTest, Tokens) {
  struct Case {
    const char* sql;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"  /* c */ CREATE PROCEDURE", {"CREATE", "PROCEDURE"}},
      {"CREATE PROCEDURE \"My Proc\"(IN a INTEGER)",
       {"CREATE", "PROCEDURE", "\"My Proc\"", "(", "IN", "a", "INTEGER", ")"}},
      {";; -- note\r\n\tx1_y;'it''s';", {"x1_y", "'it''s'"}},
      // A parameter reference is no token of its own: its marker goes in
      // front of the token that follows.
      {"a=:p", {"a", "=", "?"}},
      {"x :p y", {"x", "?y"}},
      {":a /* c */ :\"b\" ;\r\n's' z",
       {"?"
        "?'s'",
        "z"}},
      {": x", {":", "x"}},
      {"", {}},
      {"  -- only a comment", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens(c.sql), c.expected) << c.sql;
}

TEST(ReadSQLTokenTest, PositionMovesPastTheToken) {
  int32_t position = 1;
  std::string token;
  ReadSQLToken("  CREATE  FUNCTION", position, token);
  EXPECT_EQ(token, "CREATE");
  EXPECT_EQ(position, 9);
  ReadSQLToken("  CREATE  FUNCTION", position, token);
  EXPECT_EQ(token, "FUNCTION");
  EXPECT_EQ(position, 19);
  ReadSQLToken("  CREATE  FUNCTION", position, token);
  EXPECT_EQ(token, "");
  EXPECT_EQ(position, 19);
}

}  // namespace
}  // namespace brn
