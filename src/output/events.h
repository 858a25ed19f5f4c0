// What the run tells its user, one event at a time: as the text lines the
// tool has always printed, or with --json as one JSON object per line, each
// with an "event" field (the schema is in the README). Everything the tool
// prints after its options were read goes through here, so that the two
// forms cannot drift apart. Safe to call from several threads: an event's
// text, or its object, is written whole.
#ifndef FLASHDROP_OUTPUT_EVENTS_H_
#define FLASHDROP_OUTPUT_EVENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Event {
  // `text` is what the text form writes, line ends included ("" for
  // nothing): byte for byte what the tool printed before JSON existed.
  explicit Event(const char* name, std::string text = "");

  // Fields of the JSON object, in the order added. Strings are bytes, encoded
  // so that none is lost; the opt_ forms give null when the value is unknown.
  Event& str(const char* key, const std::string& value);
  Event& opt_str(const char* key, const std::string& value);  // null when empty
  Event& num(const char* key, uint64_t value);
  Event& opt_num(const char* key, const std::optional<uint64_t>& value);
  Event& boolean(const char* key, bool value);
  Event& strs(const char* key, const std::vector<std::string>& values);

  std::string name;
  std::string text;
  std::string fields;  // ,"key":value... as JSON
};

// Writes the event: its text (each line after the calling thread's drive
// prefix), or its JSON object on one line, flushed.
void emit(const Event& event);

// A line that is none of the named events: {"event":"message","text":...}.
void emit_line(const std::string& line);

// The drive the calling thread works for while several drives are flashed
// at once: its text lines start with "[ROOT] ", its objects carry "drive"
// right after "event". Empty: none.
void set_event_drive(const std::string& root);

#endif  // FLASHDROP_OUTPUT_EVENTS_H_
