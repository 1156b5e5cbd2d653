#include "seed_content.h"

// The sample's lessons, in the backend's own keys where they go out unchanged. Ids are fixed so
// scripts and tests can name them; question and answer ids are derived by the catalog. Media
// names under "Media/" are generated files (see media.h).
const char* const kSeedContent = R"json({
"schools": [
  {"id": 1, "universityId": 1, "universityName": "Harbour City University", "facultyId": 1,
   "facultyName": "Faculty of Science", "departmentId": 1, "departmentName": "Mathematics",
   "name": "Mathematics, first year"},
  {"id": 2, "universityId": 1, "universityName": "Harbour City University", "facultyId": 2,
   "facultyName": "Faculty of Arts", "departmentId": 2, "departmentName": "Music",
   "name": "Music, first year"},
  {"id": 3, "universityId": 2, "universityName": "Northbridge College", "facultyId": 3,
   "facultyName": "Faculty of Humanities", "departmentId": 3, "departmentName": "Geography",
   "name": "Geography, evening class"}
],
"lectures": [
  {"id": 1, "name": "Algebra Basics", "color": "teal_amber", "teacherName": "Mira Okafor",
   "description": "Equations, unknowns and fractions, one step at a time."},
  {"id": 2, "name": "World Geography", "color": "indigo_pink", "teacherName": "Tomas Lindqvist",
   "description": "Continents, oceans and how to read a map."},
  {"id": 3, "name": "Music Theory", "color": "deep_purple_orange", "teacherName": "Ana Ferreira",
   "description": "Notes, rests and training the ear."},
  {"id": 4, "name": "Creative Writing", "color": "light_green_amber", "teacherName": "Jon Hale",
   "description": "Shaping stories and giving characters a voice."}
],
"curricula": [
  {"id": 11, "lectureId": 1, "name": "Linear equations", "description": "Solving for one unknown.",
   "htmlSite": "<h1>Linear equations</h1><p>Whatever you do to one side, do to the other.</p><p>2x + 3 = 11 gives 2x = 8, so x = 4.</p><p>More practice: <a href='https://example.org/algebra/linear-equations'>worked examples online</a>.</p>"},
  {"id": 12, "lectureId": 1, "name": "Fractions", "description": "Adding and comparing parts of a whole.",
   "htmlSite": "<h1>Fractions</h1><p>To add 1/2 and 1/4, write both in quarters: 2/4 + 1/4 = 3/4.</p>"},
  {"id": 21, "lectureId": 2, "name": "Continents and oceans", "description": "The big shapes of the globe.",
   "htmlSite": "<h1>Continents and oceans</h1><p>Seven continents and five oceans cover the Earth.</p>"},
  {"id": 22, "lectureId": 2, "name": "Reading maps", "description": "Scale, legend and compass.",
   "htmlSite": "<h1>Reading maps</h1><p>North is at the top unless the compass rose says otherwise.</p>"},
  {"id": 31, "lectureId": 3, "name": "Notes and rests", "description": "How long a sound lasts.",
   "htmlSite": "<h1>Notes and rests</h1><p>A whole note lasts as long as two half notes.</p>"},
  {"id": 41, "lectureId": 4, "name": "Story structure", "description": "Beginning, middle and end.",
   "htmlSite": "<h1>Story structure</h1><p>Set up, confront, resolve.</p>"}
],
"documents": [
  {"id": 111, "curriculumId": 11, "name": "Worked examples", "description": "Five equations solved step by step.",
   "fileName": "worked-examples.txt", "text": "1) x + 5 = 9  ->  x = 4\n2) 3x = 21  ->  x = 7\n3) 2x + 3 = 11  ->  x = 4\n"},
  {"id": 121, "curriculumId": 12, "name": "Fraction cheat sheet", "description": "Common denominators at a glance.",
   "fileName": "fractions.txt", "text": "1/2 = 2/4 = 4/8\n1/3 = 2/6\n3/4 = 6/8\n"},
  {"id": 221, "curriculumId": 22, "name": "Map symbols", "description": "The legend of a topographic map.",
   "fileName": "map-symbols.txt", "text": "Blue line: river\nBrown lines: height\nBlack square: building\n"},
  {"id": 311, "curriculumId": 31, "name": "Note values", "description": "Whole, half, quarter and eighth notes.",
   "fileName": "note-values.txt", "text": "whole = 2 half = 4 quarter = 8 eighth\n"}
],
"quizLevels": [
  {"id": 1, "name": "Standard", "two": 50, "three": 63, "four": 75, "five": 88},
  {"id": 2, "name": "Strict", "two": 60, "three": 70, "four": 80, "five": 90}
],
"quizzes": [
  {"id": 101, "curriculumId": 11, "quizLevelId": 1, "name": "Solving for x",
   "description": "Four quick questions on linear equations.",
   "questions": [
     {"type": "trueFalse", "questionDataType": "text", "maxScore": 2,
      "questionText": "If 2x + 3 = 11, then x = 4.",
      "questionData": "<p>Check by putting x back into the equation.</p>",
      "answers": [{"answerText": "true", "isCorrect": true}]},
     {"type": "getWord", "questionDataType": "text", "maxScore": 3,
      "questionText": "Solve 3x = 21. What is x?",
      "answers": [{"answerText": "7", "isCorrect": true}]},
     {"type": "oneCorrect", "questionDataType": "image", "maxScore": 2, "questionData": "Media/balance.png",
      "questionText": "What keeps the scales in the picture level?",
      "answers": [{"answerText": "Adding the same to both sides", "isCorrect": true},
                  {"answerText": "Adding only to the left side", "isCorrect": false},
                  {"answerText": "Doubling only the right side", "isCorrect": false}]},
     {"type": "moreCorrect", "questionDataType": "text", "maxScore": 4,
      "questionText": "Which values solve x * x = 9?", "questionData": "<p>Pick every value that works.</p>",
      "answers": [{"answerText": "3", "isCorrect": true}, {"answerText": "-3", "isCorrect": true},
                  {"answerText": "9", "isCorrect": false}, {"answerText": "0", "isCorrect": false}]}
   ]},
  {"id": 102, "curriculumId": 12, "quizLevelId": 1, "name": "Fraction warm-up",
   "description": "Two questions on adding fractions.",
   "questions": [
     {"type": "oneCorrect", "questionDataType": "text", "maxScore": 2, "questionText": "1/2 + 1/4 = ?",
      "answers": [{"answerText": "3/4", "isCorrect": true}, {"answerText": "2/6", "isCorrect": false},
                  {"answerText": "1/6", "isCorrect": false}]},
     {"type": "trueFalse", "questionDataType": "image", "maxScore": 1, "questionData": "Media/pizza.png",
      "questionText": "The picture shows three quarters of a pizza.",
      "answers": [{"answerText": "false", "isCorrect": false}]}
   ]},
  {"id": 201, "curriculumId": 21, "quizLevelId": 2, "name": "Oceans and rivers",
   "description": "Look, watch and listen.",
   "questions": [
     {"type": "moreCorrect", "questionDataType": "image", "maxScore": 4, "questionData": "Media/globe.png",
      "questionText": "Which of these are oceans?",
      "answers": [{"answerText": "Pacific", "isCorrect": true}, {"answerText": "Atlantic", "isCorrect": true},
                  {"answerText": "Sahara", "isCorrect": false}, {"answerText": "Andes", "isCorrect": false}]},
     {"type": "getWord", "questionDataType": "video", "maxScore": 3, "questionData": "Media/river.mp4",
      "questionText": "Name the longest river of Africa.",
      "answers": [{"answerText": "Nile", "isCorrect": true}]},
     {"type": "oneCorrect", "questionDataType": "sound", "maxScore": 2, "questionData": "Media/waves.wav",
      "questionText": "What do you hear?",
      "answers": [{"answerText": "Waves on a shore", "isCorrect": true}, {"answerText": "Wind in a forest", "isCorrect": false},
                  {"answerText": "Rain on a roof", "isCorrect": false}]}
   ]},
  {"id": 301, "curriculumId": 31, "quizLevelId": 1, "name": "Ear training",
   "description": "Listen to the notes and count the beats.",
   "questions": [
     {"type": "oneCorrect", "questionDataType": "sound", "maxScore": 2, "questionData": "Media/tone-a.wav",
      "questionText": "Which note is played?",
      "answers": [{"answerText": "A", "isCorrect": true}, {"answerText": "C", "isCorrect": false},
                  {"answerText": "E", "isCorrect": false}]},
     {"type": "getWord", "questionDataType": "sound", "maxScore": 2, "questionData": "Media/tone-c.wav",
      "questionText": "Type the letter of the note you hear.",
      "answers": [{"answerText": "C", "isCorrect": true}]},
     {"type": "trueFalse", "questionDataType": "video", "maxScore": 1, "questionData": "Media/metronome.mp4",
      "questionText": "The clip keeps a steady beat.",
      "answers": [{"answerText": "true", "isCorrect": true}]},
     {"type": "moreCorrect", "questionDataType": "text", "maxScore": 3,
      "questionText": "Which of these are note values?", "questionData": "<p>Choose all that apply.</p>",
      "answers": [{"answerText": "Half note", "isCorrect": true}, {"answerText": "Quarter note", "isCorrect": true},
                  {"answerText": "Treble clef", "isCorrect": false}]}
   ]}
],
"news": [
  {"id": 1, "title": "Welcome to the new term", "description": "Four lectures are open for you.",
   "longText": "<p>Algebra, geography, music and writing: pick a lecture and start with its first curriculum.</p>",
   "createDate": "2024-09-02 08:00:00", "color": "blue_indigo"},
  {"id": 2, "title": "New quiz: Ear training", "description": "Test your ear in Music Theory.",
   "longText": "<p>Four questions with sounds and a short clip.</p>",
   "createDate": "2024-09-10 14:30:00", "color": "deep_purple_orange", "lectureId": 3},
  {"id": 3, "title": "Map reading workshop", "description": "Bring a compass on Friday.",
   "longText": "<p>We meet at the main gate at nine.</p>",
   "createDate": "2024-09-18 09:15:00", "color": "indigo_pink", "lectureId": 2},
  {"id": 4, "title": "Writing contest", "description": "Short stories of up to 500 words.",
   "longText": "<p>Hand in your story by the end of the month.</p>",
   "createDate": "2024-09-25 12:00:00", "color": "light_green_amber", "lectureId": 4}
],
"achievements": [
  {"id": 1, "rule": "firstResult", "type": "all", "name": "First steps",
   "description": "Finished your first quiz."},
  {"id": 2, "rule": "fullMarks", "type": "excelent", "name": "Full marks",
   "description": "Answered every question of a quiz right."},
  {"id": 3, "rule": "fiveResults", "type": "all", "name": "Keen learner",
   "description": "Finished five quizzes."}
]
})json";
