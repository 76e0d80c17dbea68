#include "xml.h"

#include "../host/fileio.h"

#include <SDL2/SDL.h>
// The library is built with DTD support, which brings its entity
// amplification settings; its header declares them only under this name.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>

#include <climits>
#include <cstring>

const char XML_MESSAGE_CANCELLED[] = "Cancelled";
const char XML_MESSAGE_OUT_OF_MEMORY[] = "Out of memory";
const char XML_MESSAGE_NO_FILE[] = "Couldn't load file";

namespace {

const char MESSAGE_INCOMPLETE[] = "XML document is incomplete or malformed";
const char MESSAGE_BAD_REFERENCE[] = "Invalid character or entity reference (&whatever;)";
const char MESSAGE_TAG_MISMATCH[] = "Close tag does not match open tag (<Tag> .. </OtherTag>)";
const char MESSAGE_STACK_OVERFLOW[] = "Stack overflow (too deeply nested tags or too long element/attribute name)";
const char MESSAGE_SYNTAX[] = "Syntax error (unexpected byte)";

// Entities that hold markup multiply nodes rather than bytes: 40 elements in
// one entity, used 150,000 times in 600 KB, would make 6 million elements
// (each a Ruby Hash) while the bound on bytes sees only 40 times the text.
// So the nodes that entities make (elements, attributes, texts and
// instructions first seen inside one) are counted against those the document
// writes out itself: past ENTITY_NODE_ALLOWANCE, entities may have made at
// most ENTITY_NODE_MULTIPLE times as many at any point of the document, or it
// is refused. Templates used a few thousand times in a small document, and
// entities that stand for text, stay well within it.
#define ENTITY_NODE_ALLOWANCE 65536
#define ENTITY_NODE_MULTIPLE 4
#define DIGITS_OF(number) #number
#define NUMBER_TEXT(number) DIGITS_OF(number)
const char MESSAGE_ENTITY_NODES[] = "Entities expand to too many nodes (over " NUMBER_TEXT(ENTITY_NODE_ALLOWANCE)
    " and over " NUMBER_TEXT(ENTITY_NODE_MULTIPLE) " times the nodes written in the document)";

// How a document writes a character of the ASCII range, as expat reads it:
// one byte, or two (UTF-16) with the other byte 0, high byte first or last.
enum class code_units { bytes, utf16_big_endian, utf16_little_endian };

// Expat tells UTF-16 from the first two bytes: a byte-order mark, or the
// 0 byte of a first character that must be ASCII ("<" or a blank).
// Anything else is read a byte at a time (UTF-8, ISO-8859-1, US-ASCII).
code_units code_units_of(const char *document, size_t length) {
    if (length < 2) return code_units::bytes;
    unsigned char first = (unsigned char)document[0], second = (unsigned char)document[1];
    if ((first == 0xFE && second == 0xFF) || (first == 0 && second != 0)) return code_units::utf16_big_endian;
    if ((first == 0xFF && second == 0xFE) || (first != 0 && second == 0)) return code_units::utf16_little_endian;
    return code_units::bytes;
}

// The ASCII character the document writes `index` characters after byte
// `at`, or 0 for any other character or past the end.
char ascii_at(const char *document, size_t length, code_units units, size_t at, size_t index) {
    size_t width = units == code_units::bytes ? 1 : 2;
    if (at > length || index >= (length - at) / width) return 0;
    const unsigned char *unit = (const unsigned char *)document + at + index * width;
    unsigned char low = unit[0], high = 0;
    if (units == code_units::utf16_big_endian) high = unit[0], low = unit[1];
    if (units == code_units::utf16_little_endian) high = unit[1];
    return high == 0 && low < 0x80 ? (char)low : 0;
}

// Expat hands over whole names and runs of text; the events the builder
// expects put all text between two tags into one piece, so text collects in
// a buffer until the next tag flushes it to the callback that is pending.
struct xml_parser {
    xml_parse_context *context;
    XML_Parser expat;
    char *buffer;
    size_t capacity, length;
    xml_parse_callback pending;
    size_t names_held; // see XML_NAME_STACK_SIZE
    const char *failure; // why a handler stopped expat
    // The document as given, to tell what it writes out from what its
    // entities expand to (see ENTITY_NODE_ALLOWANCE), and how it writes a
    // character of the ASCII range (see code_units_of).
    const char *document;
    size_t document_length;
    code_units units;
    bool in_written_cdata; // a CDATA section of the document itself is open
    bool text_pending;     // text collects, to be one node
    bool text_written;     // and a piece of it is written in the document
    unsigned long long written_nodes, entity_nodes;
};

const XML_Memory_Handling_Suite sdl_memory = {SDL_malloc, SDL_realloc, SDL_free};

// Entities nested a few levels deep expand a few hundred bytes into
// millions of elements, each a Ruby Hash built inside the game's tick: the
// sender would choose how long the game stalls. Once the document read so
// far and its expansions reach ENTITY_ACTIVATION_BYTES, expansion may be at
// most ENTITY_AMPLIFICATION times the bytes read. Below that any document
// parses (64 KiB of elements take a few milliseconds); above it, entities
// used as abbreviations, even nested or in attributes, stay well below 100
// times the text that uses them.
constexpr float ENTITY_AMPLIFICATION = 100.0f;
constexpr unsigned long long ENTITY_ACTIVATION_BYTES = 64 * 1024;

const char *message_for(XML_Error error) {
    switch (error) {
    case XML_ERROR_NO_MEMORY: return XML_MESSAGE_OUT_OF_MEMORY;
    case XML_ERROR_TAG_MISMATCH: return MESSAGE_TAG_MISMATCH;
    case XML_ERROR_NO_ELEMENTS:
    case XML_ERROR_UNCLOSED_TOKEN:
    case XML_ERROR_PARTIAL_CHAR:
    case XML_ERROR_UNCLOSED_CDATA_SECTION: return MESSAGE_INCOMPLETE;
    case XML_ERROR_UNDEFINED_ENTITY:
    case XML_ERROR_BAD_CHAR_REF:
    case XML_ERROR_RECURSIVE_ENTITY_REF:
    case XML_ERROR_BINARY_ENTITY_REF:
    case XML_ERROR_ATTRIBUTE_EXTERNAL_ENTITY_REF:
    case XML_ERROR_ASYNC_ENTITY:
    case XML_ERROR_AMPLIFICATION_LIMIT_BREACH: return MESSAGE_BAD_REFERENCE;
    default: return MESSAGE_SYNTAX;
    }
}

// Expat may deliver a handler or two after being stopped: every handler
// first checks that no failure was recorded.
void fail(xml_parser *parser, const char *message) {
    if (!parser->failure) parser->failure = message;
    XML_StopParser(parser->expat, XML_FALSE);
}

void mark_position(xml_parser *parser) {
    xml_parse_context *context = parser->context;
    context->line = (uint32_t)XML_GetCurrentLineNumber(parser->expat);
    context->column = (uint32_t)XML_GetCurrentColumnNumber(parser->expat);
    context->total = (uint32_t)XML_GetCurrentByteIndex(parser->expat);
}

// Whether the current event comes from a declared entity. Inside one, expat
// reports every event at the reference in the document that opened the
// outermost entity; an event of the document's own text is at its tag, its
// text, or a character reference or predefined entity, which are text as
// written (a CDATA section may hold what looks like a reference).
// The position is a byte index, and the reference is read in the document's
// own encoding: in UTF-16 the "&" is two bytes.
bool from_entity(const xml_parser *parser) {
    if (parser->in_written_cdata) return false;
    XML_Index at = XML_GetCurrentByteIndex(parser->expat);
    if (at < 0) return false;
    auto character = [&](size_t index) {
        return ascii_at(parser->document, parser->document_length, parser->units, (size_t)at, index);
    };
    if (character(0) != '&') return false;
    if (character(1) == '#') return false;
    static const char *const PREDEFINED[] = {"amp;", "lt;", "gt;", "apos;", "quot;"};
    for (const char *predefined : PREDEFINED) {
        size_t i = 0;
        while (predefined[i] && character(1 + i) == predefined[i]) ++i;
        if (!predefined[i]) return false;
    }
    return true;
}

// Counts one node about to be delivered; false (and the parse fails) when
// entities have made too many.
bool count_node(xml_parser *parser, bool entity) {
    if (!entity) {
        ++parser->written_nodes;
        return true;
    }
    ++parser->entity_nodes;
    if (parser->entity_nodes <= ENTITY_NODE_ALLOWANCE ||
        parser->entity_nodes <= ENTITY_NODE_MULTIPLE * parser->written_nodes)
        return true;
    fail(parser, MESSAGE_ENTITY_NODES);
    return false;
}

bool call(xml_parser *parser, xml_parse_callback callback) {
    if (!callback || callback(parser->context)) return true;
    fail(parser, XML_MESSAGE_CANCELLED);
    return false;
}

bool append(xml_parser *parser, const char *bytes, size_t length) {
    size_t needed = parser->length + length;
    // The context hands lengths over as 32-bit numbers.
    if (needed < length || needed > UINT32_MAX - 8) {
        fail(parser, XML_MESSAGE_OUT_OF_MEMORY);
        return false;
    }
    if (needed + 8 > parser->capacity) {
        size_t capacity = parser->capacity ? parser->capacity : 256;
        while (capacity < needed + 8) capacity *= 2;
        char *grown = (char *)SDL_realloc(parser->buffer, capacity);
        if (!grown) {
            fail(parser, XML_MESSAGE_OUT_OF_MEMORY);
            return false;
        }
        parser->buffer = grown, parser->capacity = capacity;
    }
    std::memcpy(parser->buffer + parser->length, bytes, length);
    parser->length = needed;
    return true;
}

// Hands the collected text to the pending callback, with the text current
// before it (a name or target) as the previous text.
bool flush(xml_parser *parser) {
    xml_parse_callback pending = parser->pending;
    // Text is a node of the document's own when any of it is written there;
    // an attribute or instruction was counted with its name.
    bool counted = !parser->text_pending || count_node(parser, !parser->text_written);
    parser->pending = nullptr;
    parser->text_pending = parser->text_written = false;
    if (!pending || !counted) {
        parser->length = 0;
        return counted;
    }
    xml_parse_context *context = parser->context;
    context->previous_text = context->text, context->previous_length = context->text_length;
    context->text = parser->buffer, context->text_length = (uint32_t)parser->length;
    bool go_on = call(parser, pending);
    context->previous_text = nullptr, context->previous_length = 0;
    parser->length = 0;
    return go_on;
}

// A name, or a name followed by its value as pending text (nothing pending
// for an empty value, which makes no node).
bool deliver_named(xml_parser *parser, const char *name, const char *value, xml_parse_callback callback,
                   bool entity) {
    size_t name_length = std::strlen(name);
    if (parser->names_held + name_length + 1 > XML_NAME_STACK_SIZE) {
        fail(parser, MESSAGE_STACK_OVERFLOW);
        return false;
    }
    parser->context->text = name, parser->context->text_length = (uint32_t)name_length;
    if (*value) {
        if (!count_node(parser, entity)) return false;
        parser->pending = callback;
        if (!append(parser, value, std::strlen(value))) return false;
    }
    return flush(parser);
}

void XMLCALL on_expat_start(void *data, const XML_Char *name, const XML_Char **attributes) {
    xml_parser *parser = (xml_parser *)data;
    if (parser->failure) return;
    mark_position(parser);
    if (!flush(parser)) return;
    bool entity = from_entity(parser);
    if (!count_node(parser, entity)) return;
    size_t name_length = std::strlen(name);
    if (parser->names_held + name_length + 1 > XML_NAME_STACK_SIZE) return fail(parser, MESSAGE_STACK_OVERFLOW);
    parser->names_held += name_length + 1;
    parser->context->text = name, parser->context->text_length = (uint32_t)name_length;
    if (!call(parser, parser->context->on_element_start)) return;
    // Only the attributes written in the document: the builder knows
    // nothing of defaults that a DTD would add.
    int specified = XML_GetSpecifiedAttributeCount(parser->expat);
    for (int i = 0; i + 1 < specified; i += 2) {
        if (!deliver_named(parser, attributes[i], attributes[i + 1], parser->context->on_attribute, entity)) return;
    }
}

void XMLCALL on_expat_end(void *data, const XML_Char *name) {
    xml_parser *parser = (xml_parser *)data;
    if (parser->failure) return;
    mark_position(parser);
    if (!flush(parser)) return;
    parser->names_held -= std::strlen(name) + 1;
    call(parser, parser->context->on_element_end);
}

// Character data, CDATA sections and expanded entities alike; comments in
// between deliver nothing, so the run of text goes on across them.
void XMLCALL on_expat_text(void *data, const XML_Char *text, int length) {
    xml_parser *parser = (xml_parser *)data;
    if (parser->failure) return;
    mark_position(parser);
    parser->pending = parser->context->on_content;
    parser->text_pending = true;
    if (!parser->text_written) parser->text_written = !from_entity(parser);
    append(parser, text, (size_t)length);
}

// Only to know whether text in a CDATA section is written in the document
// (the section opens at its own "<![CDATA[") or in an entity.
void XMLCALL on_expat_cdata_start(void *data) {
    xml_parser *parser = (xml_parser *)data;
    parser->in_written_cdata = !from_entity(parser);
}

void XMLCALL on_expat_cdata_end(void *data) { ((xml_parser *)data)->in_written_cdata = false; }

void XMLCALL on_expat_pi(void *data, const XML_Char *target, const XML_Char *content) {
    xml_parser *parser = (xml_parser *)data;
    if (parser->failure) return;
    mark_position(parser);
    if (flush(parser)) deliver_named(parser, target, content, parser->context->on_pi, from_entity(parser));
}

int finish(xml_parse_context *context, const char *failure) {
    context->status = failure ? -1 : 1;
    context->message = failure;
    if (context->on_finish) context->on_finish(context);
    return failure ? 0 : 1;
}

const char *run_expat(xml_parser *parser, const char *buffer, size_t length) {
    // A document without a byte is no document.
    if (length == 0) return MESSAGE_INCOMPLETE;
    // No external entity handler is installed, so nothing outside the
    // document is ever read.
    parser->expat = XML_ParserCreate_MM(nullptr, &sdl_memory, nullptr);
    if (!parser->expat) return XML_MESSAGE_OUT_OF_MEMORY;
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser->expat, ENTITY_AMPLIFICATION);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser->expat, ENTITY_ACTIVATION_BYTES);
    XML_SetUserData(parser->expat, parser);
    XML_SetElementHandler(parser->expat, on_expat_start, on_expat_end);
    XML_SetCharacterDataHandler(parser->expat, on_expat_text);
    XML_SetProcessingInstructionHandler(parser->expat, on_expat_pi);
    XML_SetCdataSectionHandler(parser->expat, on_expat_cdata_start, on_expat_cdata_end);
    parser->document = buffer, parser->document_length = length;
    parser->units = code_units_of(buffer, length);
    // The last piece is parsed as final, so a document cut off early or
    // followed by anything but white space, comments and instructions fails.
    XML_Status status = XML_STATUS_OK;
    for (size_t offset = 0; status == XML_STATUS_OK && offset < length;) {
        size_t piece = length - offset < (size_t)INT_MAX ? length - offset : (size_t)INT_MAX;
        status = XML_Parse(parser->expat, buffer + offset, (int)piece, offset + piece == length);
        offset += piece;
    }
    if (parser->failure) return parser->failure;
    if (status == XML_STATUS_OK) return nullptr;
    // Expat's position is now that of the error, which is what an author
    // needs to find it.
    mark_position(parser);
    return message_for(XML_GetErrorCode(parser->expat));
}

} // namespace

int parse_xml(const char *buffer, size_t length, xml_parse_context *context) {
    if (!context) return 0;
    context->status = 0;
    context->message = nullptr;
    context->line = context->column = context->total = 0;
    context->text = context->previous_text = nullptr;
    context->text_length = context->previous_length = 0;
    if (context->on_start && !context->on_start(context)) return finish(context, XML_MESSAGE_CANCELLED);
    xml_parser *parser = (xml_parser *)SDL_calloc(1, sizeof(xml_parser));
    if (!parser) return finish(context, XML_MESSAGE_OUT_OF_MEMORY);
    parser->context = context;
    const char *failure = run_expat(parser, buffer, length);
    if (parser->expat) XML_ParserFree(parser->expat);
    SDL_free(parser->buffer);
    SDL_free(parser);
    return finish(context, failure);
}

int parse_xml_file(const char *path, xml_parse_context *context) {
    if (!context) return 0;
    size_t size = 0;
    char *bytes = (char *)loadfile(path, &size);
    if (!bytes) {
        context->status = -1;
        context->message = XML_MESSAGE_NO_FILE;
        return 0;
    }
    int parsed = parse_xml(bytes, size, context);
    SDL_free(bytes);
    return parsed;
}
