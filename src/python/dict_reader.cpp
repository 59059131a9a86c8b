// Reading the dictionary form into input records. Each entry's id decides whether it opens
// a multi-word token, is a word or is an empty word; a token's MISC spacing pieces become its
// spaces before and after. The document build then checks ids, texts and offsets.
//
// Reading a value may run Python code (a sequence's __len__ or __getitem__, a number's
// __index__), which may change the very dictionary being read; every value is therefore held
// by a strong reference for as long as it is used, never borrowed from the dictionary.
#include <nanobind/stl/string.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "conversions.hpp"
#include "dict_form.hpp"
#include "velmora/document.hpp"
#include "velmora/misc_spacing.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

// The keys of an entry, made once per conversion so that lookups hash no new strings.
struct EntryKeys {
  nb::str id{"id"}, text{"text"}, lemma{"lemma"}, upos{"upos"}, xpos{"xpos"}, feats{"feats"};
  nb::str head{"head"}, deprel{"deprel"}, deps{"deps"}, misc{"misc"}, ner{"ner"};
  nb::str multi_ner{"multi_ner"}, start_char{"start_char"}, end_char{"end_char"};
  nb::str manual_expansion{"manual_expansion"}, spaces_before{"spaces_before"};
  nb::str spaces_after{"spaces_after"}, morphemes{"morphemes"};
};

struct EntryId {
  std::int32_t a = 0;
  std::int32_t b = 0;
  bool is_pair = false;
};

// A new reference to the value of a key; an invalid object when the key is absent or holds
// None.
nb::object entry_value(nb::handle entry, const nb::str& key) {
  PyObject* value = PyDict_GetItemWithError(entry.ptr(), key.ptr());
  if (value == nullptr && PyErr_Occurred()) throw nb::python_error();
  if (value == nullptr || value == Py_None) return {};
  return nb::borrow(value);
}

std::string utf8(nb::handle value) {
  if (!PyUnicode_Check(value.ptr())) throw nb::cast_error();
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
  if (data == nullptr) throw nb::python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

std::optional<std::string> read_optional_string(nb::handle entry, const nb::str& key) {
  nb::object value = entry_value(entry, key);
  if (!value.is_valid()) return std::nullopt;
  std::string text = utf8(value);
  if (text == "_") return std::nullopt;
  return text;
}

std::string read_text(nb::handle entry, const EntryKeys& keys) {
  nb::object value = entry_value(entry, keys.text);
  return value.is_valid() ? utf8(value) : std::string();
}

// A single str, or a sequence of str copied into a tuple first: the tuple owns its items and
// keeps them in place whatever the sequence's own code does later.
std::vector<std::string> read_string_list(nb::handle entry, const nb::str& key) {
  nb::object value = entry_value(entry, key);
  if (!value.is_valid()) return {};
  if (PyUnicode_Check(value.ptr())) return {utf8(value)};
  if (PyBytes_Check(value.ptr()) || !PySequence_Check(value.ptr())) throw nb::cast_error();
  nb::object items = nb::steal(PySequence_Tuple(value.ptr()));
  if (!items.is_valid()) throw nb::python_error();
  std::vector<std::string> strings;
  strings.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(items.ptr())));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.ptr()); ++i)
    strings.push_back(utf8(PyTuple_GET_ITEM(items.ptr(), i)));
  return strings;
}

// Offsets are code-point positions stored in 32 bits; a value that does not fit is refused
// rather than cut to its low bits (which could turn it into "no offset" or a small number).
std::optional<std::int32_t> read_nonnegative_int(nb::handle entry, const nb::str& key,
                                                 const char* name) {
  nb::object value = entry_value(entry, key);
  if (!value.is_valid()) return std::nullopt;
  std::int64_t number = int64_from_python(value);
  if (number < 0) throw std::invalid_argument(std::string(name) + " cannot be negative");
  if (number > std::numeric_limits<std::int32_t>::max())
    throw std::invalid_argument(std::string(name) + " does not fit a 32-bit offset");
  return static_cast<std::int32_t>(number);
}

std::optional<std::int32_t> read_head(nb::handle entry, const EntryKeys& keys) {
  nb::object value = entry_value(entry, keys.head);
  if (!value.is_valid()) return std::nullopt;
  if (PyUnicode_Check(value.ptr()) && utf8(value) == "_") return std::nullopt;
  return int32_from_python(value);
}

std::optional<bool> read_flag(nb::handle entry, const EntryKeys& keys) {
  nb::object value = entry_value(entry, keys.manual_expansion);
  if (!value.is_valid()) return std::nullopt;
  if (value.is(nb::handle(Py_True))) return true;
  if (value.is(nb::handle(Py_False))) return false;
  throw nb::cast_error();
}

// `value` must be a strong reference: its own __len__ or __getitem__ may drop the entry's.
EntryId parse_entry_id(const nb::object& value) {
  if (PyLong_Check(value.ptr())) return EntryId{int32_from_python(value), 0, false};
  Py_ssize_t length = PyObject_Length(value.ptr());
  if (length < 0) throw nb::python_error();
  if (length != 1 && length != 2)
    throw std::invalid_argument("an id must be an int or a one/two-element sequence");
  auto item = [&value](Py_ssize_t i) {
    nb::object element = nb::steal(PySequence_GetItem(value.ptr(), i));
    if (!element.is_valid()) throw nb::python_error();
    return int32_from_python(element);
  };
  if (length == 1) return EntryId{item(0), 0, false};
  return EntryId{item(0), item(1), true};
}

WordInput parse_word_fields(nb::handle entry, const EntryKeys& keys, const EntryId& id) {
  WordInput word;
  word.id = id.a;
  if (id.is_pair) word.empty_index = id.b;
  word.text = read_text(entry, keys);
  word.lemma = read_optional_string(entry, keys.lemma);
  word.upos = read_optional_string(entry, keys.upos);
  word.xpos = read_optional_string(entry, keys.xpos);
  word.feats = read_optional_string(entry, keys.feats);
  word.head = read_head(entry, keys);
  word.deprel = read_optional_string(entry, keys.deprel);
  word.deps = read_optional_string(entry, keys.deps);
  word.misc = read_optional_string(entry, keys.misc);
  word.start_char = read_nonnegative_int(entry, keys.start_char, "start_char");
  word.end_char = read_nonnegative_int(entry, keys.end_char, "end_char");
  word.manual_expansion = read_flag(entry, keys);
  word.morphemes = read_string_list(entry, keys.morphemes);
  return word;
}

TokenInput parse_token_fields(nb::handle entry, const EntryKeys& keys, std::int32_t first,
                              std::int32_t last) {
  TokenInput token;
  token.id_start = first;
  token.id_end = last;
  token.text = read_text(entry, keys);
  token.misc = read_optional_string(entry, keys.misc);
  token.ner = read_optional_string(entry, keys.ner);
  token.multi_ner = read_string_list(entry, keys.multi_ner);
  token.start_char = read_nonnegative_int(entry, keys.start_char, "start_char");
  token.end_char = read_nonnegative_int(entry, keys.end_char, "end_char");
  token.manual_expansion = read_flag(entry, keys);
  token.spaces_before = read_optional_string(entry, keys.spaces_before).value_or("");
  token.spaces_after = read_optional_string(entry, keys.spaces_after).value_or(" ");
  if (token.misc) {
    // The MISC field wins over the keys, and the last spacing piece wins.
    CleanedMisc cleaned = clean_token_misc(*token.misc);
    token.misc = std::move(cleaned.misc);
    if (cleaned.spaces_before) token.spaces_before = std::move(*cleaned.spaces_before);
    if (cleaned.spaces_after) token.spaces_after = std::move(*cleaned.spaces_after);
    // "_" alone is the written form of no MISC: kept, it would read back as none.
    if (token.misc == "_") token.misc.reset();
  }
  return token;
}

// Iterates a Python iterable, calling `visit` with each borrowed item.
template <class Visit>
void for_each_item(nb::handle iterable, Visit&& visit) {
  nb::object iterator = nb::steal(PyObject_GetIter(iterable.ptr()));
  if (!iterator.is_valid()) throw nb::python_error();
  while (true) {
    nb::object item = nb::steal(PyIter_Next(iterator.ptr()));
    if (!item.is_valid()) {
      if (PyErr_Occurred()) throw nb::python_error();
      return;
    }
    visit(item);
  }
}

// An empty word N.M with M > N has the form of the range N-M and reads as an empty word only
// after a word with id N or higher. The dictionary writer puts it before the first token that
// starts after N; where no such word precedes that place (ids out of order, or N past the
// sentence's last word), the written form would come back as a range. Such input is refused
// here, so that whatever is read is written back as the same document.
void check_empty_words_read_back(const SentenceInput& input) {
  const std::vector<WordInput>& empty_words = input.empty_words;
  std::size_t k = 0;
  std::int32_t last_word_id = 0;
  auto check = [&](const WordInput& empty_word) {
    const std::int32_t n = empty_word.id;
    const std::int32_t m = empty_word.empty_index.value_or(0);
    if (m <= n || n <= last_word_id) return;
    const std::string first = std::to_string(n), second = std::to_string(m);
    throw std::invalid_argument("the empty word " + first + "." + second + " must follow word " +
                                first + " in word order; otherwise it reads back as the range " +
                                first + "-" + second);
  };
  for (const TokenInput& token : input.tokens) {
    while (k < empty_words.size() && empty_words[k].id < token.id_start) check(empty_words[k++]);
    for (const WordInput& word : token.words) last_word_id = word.id;
  }
  while (k < empty_words.size()) check(empty_words[k++]);
}

SentenceInput parse_sentence(nb::handle sentence, const EntryKeys& keys) {
  if (!PySequence_Check(sentence.ptr()) || PyUnicode_Check(sentence.ptr()))
    throw std::invalid_argument("each document sentence must be a sequence");
  SentenceInput input;
  // The token that a multi-word-token range opened, and the last id it covers.
  std::optional<std::size_t> open_token;
  std::int32_t open_end = 0;
  // The id of the last regular word read. A range always comes before its first word and
  // an empty word N.M after word N, so a pair (N, M) with M > N whose N was already read
  // (or is 0) is an empty word: the writer gives empty words 0.1 or 1.2 that form.
  std::int32_t last_word_id = 0;
  for_each_item(sentence, [&](nb::handle entry) {
    if (!PyDict_Check(entry.ptr()))
      throw std::invalid_argument("each sentence entry must be a dictionary");
    nb::object id_value = entry_value(entry, keys.id);
    if (!id_value.is_valid()) throw std::invalid_argument("every token entry must contain an id");
    EntryId id = parse_entry_id(id_value);
    if (id.is_pair && id.b > id.a && id.a > last_word_id) {
      input.tokens.push_back(parse_token_fields(entry, keys, id.a, id.b));
      open_token = input.tokens.size() - 1;
      open_end = id.b;
    } else if (id.is_pair) {
      input.empty_words.push_back(parse_word_fields(entry, keys, id));
    } else {
      WordInput word = parse_word_fields(entry, keys, id);
      last_word_id = id.a;
      if (open_token && id.a <= open_end) {
        input.tokens[*open_token].words.push_back(std::move(word));
        if (id.a == open_end) open_token.reset();
      } else {
        TokenInput token = parse_token_fields(entry, keys, id.a, id.a);
        word.misc = token.misc;
        token.words.push_back(std::move(word));
        input.tokens.push_back(std::move(token));
        open_token.reset();
      }
    }
  });
  check_empty_words_read_back(input);
  return input;
}

}  // namespace

Document document_from_dict(nb::handle sentences, nb::handle text) {
  EntryKeys keys;
  std::vector<SentenceInput> records;
  Py_ssize_t count = PyObject_LengthHint(sentences.ptr(), 0);
  if (count < 0) throw nb::python_error();
  records.reserve(static_cast<std::size_t>(count));
  for_each_item(sentences,
                [&](nb::handle sentence) { records.push_back(parse_sentence(sentence, keys)); });
  std::string document_text = text.is_none() ? std::string() : utf8(text.ptr());
  return Document(std::move(document_text), std::move(records));
}

}  // namespace velmora::detail
