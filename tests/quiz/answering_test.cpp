#include "question_fixture.h"

namespace {

// The answers after loading, as "text:correct:id" (text "-" when absent).
std::string answers(const QuizQuestion& q) {
  std::string out;
  for (const auto& a : q.answer())
    out += a->answerText().value_or("-") + ":" + (a->isCorrect() ? "c" : "w") + ":" + std::to_string(a->id()) + " ";
  return out;
}

TEST_F(QuestionTest, LoadingNormalisesTrueFalseAndWordQuestions) {
  struct Case {
    std::string type;
    std::vector<Answer> received;
    std::string loaded;
    int tiles;
  };
  const Case cases[] = {
      {"trueFalse", {{"x", true, 5}}, "True:c:5 False:w:0 ", 2},
      {"trueFalse", {{"x", false, 5}}, "True:w:0 False:c:5 ", 2},
      {"trueFalse", {{"x", true, 5}, {"y", false, 6}}, "True:c:5 y:w:6 False:w:0 ", 3},
      {"getWord", {{"Paris", false, 5}, {"Lyon", false, 6}}, "Paris:c:5 Lyon:w:6 :w:0 ", 1},
      {"oneCorrect", {{"b", false, 5}, {"a", true, 6}}, "b:w:5 a:c:6 ", 2},
      // Nothing to build tiles from: no tile, no word field.
      {"trueFalse", {}, "", 0},
      {"getWord", {}, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type + " " + c.loaded);
    show(question(c.type, c.received));
    EXPECT_EQ(answers(*screen->quizQuestion()), c.loaded);
    EXPECT_EQ(collection()->numberOfItemsInSection(1), c.tiles);
  }
  EXPECT_FALSE(collection()->tapItemAtIndexPath({1, 0}));
}

TEST_F(QuestionTest, TapsChooseByKindAndReportEachChange) {
  struct Case {
    std::string type;
    std::vector<Answer> received;
    std::string taps;    // rows tapped in turn
    std::string steps;   // after each tap: the chosen flags, then "+" or "-" as reported
    std::string filled;  // items filled again by the last tap
  };
  const Case cases[] = {
      {"oneCorrect", {{"A", true}, {"B"}, {"C"}}, "011", "100+ 010+ 000- ", "1.0 1.1 1.2 "},
      {"trueFalse", {{"x", true}}, "011", "10+ 01+ 00- ", "1.0 1.1 "},
      // A backend answer with id 0 is not the tile the screen added with id 0.
      {"trueFalse", {{"x", false, 0}}, "010", "10+ 01+ 10+ ", "1.0 1.1 "},
      {"moreCorrect", {{"A", true}, {"B", true}, {"C"}}, "0101", "100+ 110+ 010+ 000- ", "1.1 "},
      {"getWord", {{"Paris", true}}, "0", "00- ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    show(question(c.type, c.received));
    probe->reports.clear();
    std::string steps;
    for (char row : c.taps) {
      screen->filled.clear();
      ASSERT_TRUE(collection()->tapItemAtIndexPath({1, row - '0'}));
      steps += chosen() + (probe->reports.back() ? "+ " : "- ");
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(probe->reports.size(), c.taps.size());
    EXPECT_EQ(screen->filled, c.filled);
  }
  // The question cell is not an answer.
  collection()->tapItemAtIndexPath({0, 0});
  EXPECT_EQ(probe->reports.size(), 1u);
}

TEST_F(QuestionTest, TypingChoosesTheWordOrTheWrongAnswer) {
  struct Case {
    std::vector<Answer> received;
    std::string typed;
    std::string chosen;
    bool correct;
  };
  const Case cases[] = {
      {{{"Paris"}}, "Paris", "10", true},
      {{{"Paris"}}, "paris", "01", false},
      {{{"Paris"}}, "Paris ", "01", false},
      {{{"Paris"}}, "", "00", false},
      {{{"Caf\xC3\xA9"}}, "Cafe\xCC\x81", "10", true},  // canonically equivalent
      {{{std::nullopt}}, "Paris", "01", false},         // no word: every entry is wrong
      // Several backend answers: a wrong word lands on the backend's second answer, not on the
      // empty one the screen added (kept as designed; the backend sends one word).
      {{{"Paris"}, {"Lyon", true}}, "Nice", "010", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    show(question("getWord", c.received));
    probe->reports.clear();
    enter(c.typed);
    EXPECT_EQ(chosen(), c.chosen);
    EXPECT_EQ(probe->reports, std::vector<bool>{!c.typed.empty()});
    EXPECT_EQ(screen->answerText(), c.typed);
    EXPECT_EQ(screen->isCorrect(), c.correct);
  }
}

TEST_F(QuestionTest, OnScreenScorePerKind) {
  struct Case {
    std::string type;
    std::vector<Answer> received;
    std::string choose;  // flags to set, or the word to type
    bool answered;
    bool correct;
    double score;
  };
  const std::vector<Answer> twoOfThree = {{"A", true}, {"B", true}, {"C"}};
  const Case cases[] = {
      {"moreCorrect", twoOfThree, "111", true, false, 10},   {"moreCorrect", twoOfThree, "100", true, false, 5},
      {"moreCorrect", twoOfThree, "110", true, true, 10},    {"moreCorrect", twoOfThree, "000", false, false, 0},
      {"oneCorrect", {{"A"}, {"B"}}, "00", false, false, 0}, {"oneCorrect", {{"A"}, {"B"}}, "10", true, false, 0},
      {"trueFalse", {{"x", false}}, "01", true, true, 10},   {"getWord", {{"Paris"}}, "Paris", true, true, 10},
      {"getWord", {{"Paris"}}, "Lyon", true, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type + " " + c.choose);
    show(question(c.type, c.received));
    if (c.type == "getWord") {
      enter(c.choose);
    } else {
      const auto& all = screen->quizQuestion()->answer();
      for (std::size_t i = 0; i < all.size(); ++i) all[i]->setSelected(c.choose[i] == '1');
    }
    EXPECT_EQ(screen->isAnswered(), c.answered);
    EXPECT_EQ(screen->isCorrect(), c.correct);
    EXPECT_DOUBLE_EQ(screen->getScore(), c.score);
  }
}

TEST_F(QuestionTest, EvaluationShowsChosenTilesRightOrWrongAndResetClearsAll) {
  show(question("oneCorrect", {{"Paris", true}, {"Lyon"}}));
  EXPECT_EQ(run("select 1 1"), "0.0. Which city is the capital?\n1.0. Paris\n1.1. Lyon | (chosen)\n");
  screen->evaluateAnswers();
  // The missed right answer stays plain.
  EXPECT_EQ(run("select 1 0"), "0.0. Which city is the capital?\n1.0. Paris\n1.1. Lyon | (wrong)\n");
  EXPECT_EQ(chosen(), "01");
  EXPECT_EQ(probe->reports.size(), 1u);

  screen->resetAnswers();
  EXPECT_EQ(chosen(), "00");
  for (const auto& cell : collection()->visibleCells()) {
    EXPECT_EQ(cell->layer().borderWidth, cell->reuseIdentifier() == "answerCell" ? 0.5 : 0.0);
  }
  EXPECT_EQ(run("select 1 0"), "0.0. Which city is the capital?\n1.0. Paris | (chosen)\n1.1. Lyon\n");
}

TEST_F(QuestionTest, WordFieldKeepsItsWordUntilResetAndLocksInEvaluation) {
  show(question("getWord", {{"Paris"}}));
  EXPECT_EQ(run("type answerTextField Pari"), "0.0. Which city is the capital?\n1.0. {Pari|} #answerTextField\n");
  run("tap answerTextField");
  collection()->reloadData();
  EXPECT_EQ(wordField()->text(), "Pari");
  screen->evaluateAnswers();
  EXPECT_EQ(run("show"), "0.0. Which city is the capital?\n1.0. {Pari} #answerTextField (disabled) | (wrong)\n");
  EXPECT_EQ(wordField()->textColor(), UIColor::redColor());
  screen->resetAnswers();
  auto field = wordField();
  EXPECT_EQ(std::tuple(screen->answerText(), *field->text(), field->isEnabled(), *field->textColor()),
            std::tuple("", "", true, UIColor::blackColor()));
  EXPECT_EQ(field->layer().borderColor, field->tintColor());
  EXPECT_EQ(run("type answerTextField Paris"), "0.0. Which city is the capital?\n1.0. {Paris|} #answerTextField\n");
  screen->evaluateAnswers();
  EXPECT_EQ(run("show"), "0.0. Which city is the capital?\n1.0. {Paris} #answerTextField (disabled) | (right)\n");
}

}  // namespace
