#include "metadata/build_metadata.h"

#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <cstdlib>
#include <new>

#include "console/message.h"

namespace wexlo {

namespace {

// Reads a text that is neither NUL-terminated nor free of NUL bytes. The
// reader sees '\0' past the end; `exhausted` tells that apart from a NUL in
// the text, so a failure caused by running out of text can be recognised.
class BoundedStream {
 public:
  using Ch = char;

  explicit BoundedStream(std::string_view text) : text_(text) {}

  Ch Peek() const {
    if (position_ < text_.size()) return text_[position_];
    exhausted_ = true;
    return '\0';
  }
  Ch Take() {
    if (position_ < text_.size()) return text_[position_++];
    exhausted_ = true;
    return '\0';
  }
  std::size_t Tell() const { return position_; }

  // Required by the stream concept; never called on an input stream.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

  bool exhausted() const { return exhausted_; }
  bool atEnd() const { return position_ >= text_.size(); }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  mutable bool exhausted_ = false;
};

// The reader's working stack, failing by exception so that lack of memory
// surfaces as OutOfMemory instead of a null pointer the reader does not check.
class ThrowingAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(std::size_t size) {
    if (size == 0) return nullptr;
    void* memory = std::malloc(size);
    if (!memory) throw std::bad_alloc();
    return memory;
  }
  void* Realloc(void* original, std::size_t, std::size_t size) {
    if (size == 0) {
      std::free(original);
      return nullptr;
    }
    void* memory = std::realloc(original, size);
    if (!memory) throw std::bad_alloc();
    return memory;
  }
  static void Free(void* memory) { std::free(memory); }
};

enum class Member { AppName, ZigVersion, ZigBuildArguments, AppVersion, Options, ErtsVersion };

constexpr std::array<std::string_view, 6> kMemberNames = {
    "app_name", "zig_version", "zig_build_arguments", "app_version", "options", "erts_version"};

// The reader decodes \uDC00..\uDFFF without a leading half into the bytes
// ED B0..BF xx, which are not UTF-8; such a string is refused.
bool holdsLoneSurrogate(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xED &&
        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0xA0) {
      return true;
    }
  }
  return false;
}

// Sees every event of the reader, so that an unknown or repeated member, or a
// value of the wrong kind, stops the parse where it occurs.
class RecordHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RecordHandler> {
 public:
  BuildMetadata record;
  std::optional<Failure> failure;

  bool Default() { return refuse(Failure::UnexpectedToken); }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return Default(); }

  bool StartObject() {
    if (state_ != State::BeforeRecord) return refuse(Failure::UnexpectedToken);
    state_ = State::InRecord;
    return true;
  }

  bool Key(const char* text, rapidjson::SizeType length, bool) {
    std::string_view name(text, length);
    for (std::size_t i = 0; i < kMemberNames.size(); ++i) {
      if (kMemberNames[i] != name) continue;
      if (seen_[i]) return refuse(Failure::DuplicateField);
      seen_[i] = true;
      member_ = static_cast<Member>(i);
      state_ = State::BeforeValue;
      return true;
    }
    return refuse(Failure::UnknownField);
  }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    std::string_view value(text, length);
    if (holdsLoneSurrogate(value)) return refuse(Failure::SyntaxError);
    if (state_ == State::InArguments) {
      record.zigBuildArguments.emplace_back(value);
      return true;
    }
    if (state_ != State::BeforeValue || member_ == Member::ZigBuildArguments) {
      return refuse(Failure::UnexpectedToken);
    }
    textMember() = value;
    state_ = State::InRecord;
    return true;
  }

  bool StartArray() {
    if (state_ != State::BeforeValue || member_ != Member::ZigBuildArguments) {
      return refuse(Failure::UnexpectedToken);
    }
    state_ = State::InArguments;
    return true;
  }

  bool EndArray(rapidjson::SizeType) {
    state_ = State::InRecord;
    return true;
  }

  bool EndObject(rapidjson::SizeType) {
    state_ = State::AfterRecord;
    return true;
  }

 private:
  enum class State { BeforeRecord, InRecord, BeforeValue, InArguments, AfterRecord };

  bool refuse(Failure reason) {
    failure = reason;
    return false;
  }

  std::string& textMember() {
    switch (member_) {
      case Member::AppName:
        return record.appName;
      case Member::ZigVersion:
        return record.zigVersion;
      case Member::AppVersion:
        return record.appVersion;
      case Member::Options:
        return record.options;
      case Member::ErtsVersion:
      case Member::ZigBuildArguments:
        break;
    }
    return record.ertsVersion;
  }

  State state_ = State::BeforeRecord;
  Member member_ = Member::AppName;
  std::array<bool, kMemberNames.size()> seen_{};
};

constexpr unsigned kParseFlags =
    rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;

}  // namespace

Result<BuildMetadata> decodeBuildMetadata(std::string_view text) {
  try {
    BoundedStream stream(text);
    RecordHandler handler;
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, ThrowingAllocator> reader;
    rapidjson::ParseResult result = reader.Parse<kParseFlags>(stream, handler);
    if (handler.failure) return fail(*handler.failure);
    if (result.IsError()) {
      // Numbers are never valid here, however large.
      if (result.Code() == rapidjson::kParseErrorNumberTooBig)
        return fail(Failure::UnexpectedToken);
      bool endedEarly = stream.exhausted() || result.Offset() >= text.size();
      return fail(endedEarly ? Failure::UnexpectedEndOfInput : Failure::SyntaxError);
    }
    // The reader stops at a NUL byte as if the text ended there.
    if (!stream.atEnd()) return fail(Failure::SyntaxError);
    return std::move(handler.record);
  } catch (const std::bad_alloc&) {
    return fail(Failure::OutOfMemory);
  }
}

std::optional<BuildMetadata> parseBuildMetadata(std::string_view text, ErrorLog& log) {
  auto record = decodeBuildMetadata(text);
  if (!record) {
    log.logError({"Error when parsing metadata: ", failureName(record.error())});
    return std::nullopt;
  }
  return std::move(*record);
}

std::string encodeBuildMetadata(const BuildMetadata& metadata) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  auto member = [&](std::string_view name, std::string_view value) {
    writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
    writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
  };
  writer.StartObject();
  member("options", metadata.options);
  member("erts_version", metadata.ertsVersion);
  member("app_name", metadata.appName);
  member("app_version", metadata.appVersion);
  writer.Key("zig_build_arguments");
  writer.StartArray();
  for (const std::string& argument : metadata.zigBuildArguments) {
    writer.String(argument.data(), static_cast<rapidjson::SizeType>(argument.size()));
  }
  writer.EndArray();
  member("zig_version", metadata.zigVersion);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace wexlo
