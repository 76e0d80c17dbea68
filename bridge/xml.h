// XML documents as a stream of events for a builder: element starts and ends,
// text, attributes and processing instructions, each delivered to a callback
// held in a caller-owned context. Expat tokenizes; this layer joins text,
// drops what the builder never wants, and bounds what a hostile document can
// make the parser hold. Nothing here knows about Ruby.
#pragma once

#include <cstddef>
#include <cstdint>

struct xml_parse_context;

// Answers non-zero to go on, 0 to cancel the parse (on_finish's answer is
// ignored).
typedef int (*xml_parse_callback)(xml_parse_context *context);

// Zero-filled by the caller before use.
struct xml_parse_context {
    int32_t status;      // 0 while parsing, 1 after success, -1 after failure
    const char *message; // NULL on success, else one of the parser's fixed texts
    // Position of the last delivered token, or of the fault after a failure
    // in the document (line from 1, column in bytes from 0).
    uint32_t line, column, total;
    // The text handed to a callback (not NUL-terminated: use the length),
    // and the one current before it: the attribute's name for on_attribute,
    // the target for on_pi.
    const char *text;
    uint32_t text_length;
    const char *previous_text;
    uint32_t previous_length;
    void *userdata; // handed through untouched
    xml_parse_callback on_start;
    xml_parse_callback on_finish;
    xml_parse_callback on_element_start; // text: the element's name
    xml_parse_callback on_content; // all text between two tags, in one piece
    xml_parse_callback on_attribute; // only for a non-empty value
    xml_parse_callback on_element_end;
    xml_parse_callback on_pi; // only for an instruction with content
};

// The fixed texts of the failures that are no fault of the document, which a
// caller tells apart by comparing the message with them.
extern const char XML_MESSAGE_CANCELLED[];     // a callback answered 0
extern const char XML_MESSAGE_OUT_OF_MEMORY[];
extern const char XML_MESSAGE_NO_FILE[];       // the file could not be loaded

// Bytes of names the parser holds at once: the names of all open elements
// plus the attribute name or instruction target being read, each counted
// with a terminator. Past it a document fails, however deep or long.
constexpr size_t XML_NAME_STACK_SIZE = 8192;

// Parses a whole document; 1 on success, 0 on failure (status and message
// say which). on_finish is called last on every path after on_start was.
int parse_xml(const char *buffer, size_t length, xml_parse_context *context);
// The same for a file of the virtual file system; a file that cannot be
// loaded fails with "Couldn't load file" before any callback.
int parse_xml_file(const char *path, xml_parse_context *context);
