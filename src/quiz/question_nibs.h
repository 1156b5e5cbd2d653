#pragma once

// The question screen's nibs as code: "AnswerCollectionViewCell", "GetWordCollectionViewCell" and
// "QuestionCollectionViewHeader", each a cell of the class of that name. Replaces earlier
// registrations.
void registerQuestionNibs();
