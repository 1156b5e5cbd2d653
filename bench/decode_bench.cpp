// Decoding a lecture list reply into records, against parsing the same text alone.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_timing.h"
#include "model/lecture_response.h"
#include "model/mappable_array.h"

namespace {

constexpr int kLectures = 2000;
constexpr int kRounds = 25;

const char* const kThemes[] = {"indigo_pink",  "blue_indigo", "teal_amber",    "cyan_orange",
                               "purple_amber", "green_pink",  "yellow_orange", "orange_deep_orange"};

// A reply shaped like the backend's: every key present, texts of everyday length, a few nulls.
std::string lectureListReply() {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int i = 0; i < kLectures; ++i) {
    nlohmann::ordered_json lecture;
    lecture["id"] = 1000 + i;
    lecture["name"] = "Introduction to Cell Biology, part " + std::to_string(i % 7 + 1);
    lecture["isDeleted"] = false;
    lecture["version"] = i % 5;
    lecture["description"] =
        "Structure and function of the cell: membranes, organelles, metabolism and division. "
        "Weekly quizzes cover the lecture notes of lecture " +
        std::to_string(i) + ".";
    lecture["picture"] = "/Content/Images/Lectures/" + std::to_string(1000 + i) + "_cover.png";
    lecture["color"] = kThemes[i % 8];
    lecture["teacherName"] = "Prof. Dr. Marta Kovačević";
    lecture["games"] = i * 3 % 97;
    lecture["avgResult"] = (i % 100) / 100.0;
    lecture["avgScore"] = 3.25 + (i % 13) * 0.5;
    lecture["avgTime"] = i % 3 == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(61.5 + i % 40);
    lecture["sumScore"] = 1234.5 + i;
    lecture["sumTime"] = 86400 + i * 17;
    list.push_back(std::move(lecture));
  }
  return list.dump();
}

}  // namespace

int main() {
  const std::string reply = lectureListReply();
  std::size_t sink = 0;
  std::vector<double> parseTimes;
  std::vector<double> decodeTimes;
  // Alternate the two so that drift in machine load hits both alike.
  for (int round = 0; round < kRounds; ++round) {
    parseTimes.push_back(seconds([&] { sink += nlohmann::json::parse(reply).size(); }));
    decodeTimes.push_back(seconds([&] { sink += MappableArray<LectureResponse>::decode(reply).size(); }));
  }
  if (sink != static_cast<std::size_t>(2 * kRounds * kLectures)) {
    std::fprintf(stderr, "decode_bench: unexpected element count %zu\n", sink);
    return 1;
  }
  const double parse = median(parseTimes);
  const double decode = median(decodeTimes);
  std::printf("decode_bench: %d lectures, %zu bytes\n", kLectures, reply.size());
  std::printf("  nlohmann::json::parse alone      %8.3f ms\n", parse * 1e3);
  std::printf("  MappableArray<LectureResponse>   %8.3f ms\n", decode * 1e3);
  std::printf("  ratio decode/parse               %8.3f (target <= 1.35)\n", decode / parse);
  return 0;
}
