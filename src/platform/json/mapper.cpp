#include "platform/json/mapper.h"

#include <utility>

namespace json_detail {

JsonValue parseJSON(std::string_view text) {
  return JsonValue::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

std::string dumpJSON(const OrderedJsonValue& value, bool prettyPrint) {
  return value.dump(prettyPrint ? 4 : -1, ' ', /*ensure_ascii=*/false, OrderedJsonValue::error_handler_t::replace);
}

namespace {

// Builds the object elements of a top-level array one at a time and passes over everything else.
// The library's filtering parser would do it too, but it scans a container for a dropped value
// each time an object in it ends: quadratic in a long list of objects (a question's answers).
class ArrayObjectsReader : public nlohmann::json_sax<JsonValue> {
 public:
  explicit ArrayObjectsReader(const std::function<void(const JsonValue&)>& object) : object_(object) {}
  bool isArray() const { return isArray_; }

  bool null() override { return value(JsonValue()); }
  bool boolean(bool v) override { return value(JsonValue(v)); }
  bool number_integer(number_integer_t v) override { return value(JsonValue(v)); }
  bool number_unsigned(number_unsigned_t v) override { return value(JsonValue(v)); }
  bool number_float(number_float_t v, const string_t&) override { return value(JsonValue(v)); }
  bool string(string_t& v) override { return value(JsonValue(std::move(v))); }
  bool binary(binary_t& v) override { return value(JsonValue::binary(std::move(v))); }
  bool start_object(std::size_t) override { return open(JsonValue::value_t::object); }
  bool key(string_t& name) override {
    if (!open_.empty()) slot_ = &(*open_.back())[name];
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(JsonValue::value_t::array); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  // Where a value read now goes: into the object being built, or nowhere.
  JsonValue* place(JsonValue&& v) {
    if (open_.empty()) return nullptr;
    JsonValue& into = *open_.back();
    if (into.is_array()) {
      into.push_back(std::move(v));
      return &into.back();
    }
    *slot_ = std::move(v);
    return slot_;
  }
  bool value(JsonValue&& v) {
    place(std::move(v));
    return true;
  }
  bool open(JsonValue::value_t type) {
    ++depth_;
    if (depth_ == 1) {
      isArray_ = type == JsonValue::value_t::array;
    } else if (depth_ == 2 && isArray_ && type == JsonValue::value_t::object) {
      element_ = JsonValue(type);
      open_.push_back(&element_);
    } else if (!open_.empty()) {
      open_.push_back(place(JsonValue(type)));
    }
    return true;
  }
  bool close() {
    --depth_;
    if (open_.empty()) return true;
    open_.pop_back();
    if (open_.empty()) {
      object_(element_);
      element_ = JsonValue();
    }
    return true;
  }

  const std::function<void(const JsonValue&)>& object_;
  bool isArray_ = false;
  std::size_t depth_ = 0;
  JsonValue element_;
  // The containers of the element being built that are still open, outermost first.
  std::vector<JsonValue*> open_;
  JsonValue* slot_ = nullptr;
};

}  // namespace

bool parseArrayObjects(std::string_view text, const std::function<void(const JsonValue& object)>& object) {
  ArrayObjectsReader reader(object);
  // The reader's verdict on errors is final: sax_parse answers false for them, never throws.
  return JsonValue::sax_parse(text.begin(), text.end(), &reader) && reader.isArray();
}

}  // namespace json_detail
