// SPDX-License-Identifier: MIT
#include "report/export.h"

#include <array>
#include <cstring>

namespace korrin {
namespace {

using namespace std::string_view_literals;

// The six constants in the order of the record's fields, with their JSON keys.
struct ConstantField {
  std::string_view json_key;
  Constant constant;
};
constexpr ConstantField kConstantFields[] = {
    {",\"code\":", Constant::Code},       {",\"session\":", Constant::Session},
    {",\"library\":", Constant::Library}, {",\"user\":", Constant::User},
    {",\"time\":", Constant::Time},       {",\"date\":", Constant::Date},
};

constexpr std::string_view kCsvHeader =
    "line,path,name,opened,size,found,code,session,library,user,time,date,date_iso,error\n";

// The message's word, in the order of FileError; empty for none.
constexpr std::string_view kErrorWords[] = {"", "open", "read"};

// What a record may take besides its path: the name, the constants (six
// times escaped in JSON), the numbers, the keys and the punctuation.
constexpr size_t kMostBesidesThePath = 1024;
// What a field of `size` bytes may take once written: CSV doubles quotes
// and adds two; JSON writes a control byte as six, or base64 in braces.
constexpr size_t MostForCsv(size_t size) {
  return 2 * size + 2;
}
constexpr size_t MostForJson(size_t size) {
  return 6 * size + 12;
}
static_assert(kMostBesidesThePath + MostForJson(Export::kLongestPath) <= Export::kBufferSize);

// Bytes that CSV must quote; and bytes that a JSON string cannot take
// without a second look: control bytes, the quote, the backslash, and those
// of 128 and above, which must make up UTF-8.
using ByteTable = std::array<unsigned char, 256>;
constexpr ByteTable kCsvSpecial = [] {
  ByteTable table{};
  for (const unsigned char c : {',', '"', '\r', '\n'}) table[c] = 1;
  return table;
}();
constexpr ByteTable kJsonCare = [] {
  ByteTable table{};
  for (int c = 0; c < 256; ++c) table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
  return table;
}();

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789abcdef";

// The writers below put their bytes at `out`, where the caller has made
// room for them, and return the end.

char* Copy(char* out, std::string_view bytes) {
  std::memcpy(out, bytes.data(), bytes.size());
  return out + bytes.size();
}

char* Decimal(char* out, uint64_t number) {
  char digits[20];
  char* start = digits + sizeof digits;
  do {
    *--start = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  return Copy(out, {start, static_cast<size_t>(digits + sizeof digits - start)});
}

char* Boolean(char* out, bool value) {
  return Copy(out, value ? "true"sv : "false"sv);
}

// A field's text, as it is copied.
struct Copied {
  char* end;              // of the copy
  std::string_view text;  // what was copied
  bool marked;            // a byte of it is marked in the table
};

// Copies `text` up to `most` bytes or its first NUL to `out`, noting on the
// way whether a byte needs a second look: one pass over the usual field.
Copied CopyMarking(char* out, const char* text, size_t most, const ByteTable& table) {
  unsigned marked = 0;
  size_t n = 0;
  for (; n < most && text[n] != '\0'; ++n) {
    out[n] = text[n];
    marked |= table[static_cast<unsigned char>(text[n])];
  }
  return {out + n, {text, n}, marked != 0};
}

// Quoted, its quotes doubled, only when it holds a comma, a quote, CR or LF.
char* CsvField(char* out, const char* text, size_t most) {
  const Copied copied = CopyMarking(out, text, most, kCsvSpecial);
  if (!copied.marked) return copied.end;
  *out++ = '"';
  for (const char c : copied.text) {
    *out++ = c;
    if (c == '"') *out++ = '"';
  }
  *out++ = '"';
  return out;
}

char* Base64(char* out, std::string_view value) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  size_t k = 0;
  for (; k + 3 <= value.size(); k += 3) {
    const uint32_t group = uint32_t{bytes[k]} << 16 | uint32_t{bytes[k + 1]} << 8 | bytes[k + 2];
    for (const int shift : {18, 12, 6, 0}) *out++ = kBase64Digits[(group >> shift) & 63];
  }
  if (k < value.size()) {
    const bool two = k + 2 == value.size();
    const uint32_t group = uint32_t{bytes[k]} << 16 | (two ? uint32_t{bytes[k + 1]} << 8 : 0);
    *out++ = kBase64Digits[group >> 18];
    *out++ = kBase64Digits[(group >> 12) & 63];
    *out++ = two ? kBase64Digits[(group >> 6) & 63] : '=';
    *out++ = '=';
  }
  return out;
}

// A JSON string; or, for bytes that are not UTF-8, {"bytes":"<base64>"},
// so that nothing is lost or replaced.
char* JsonField(char* out, const char* text, size_t most) {
  *out = '"';
  const Copied copied = CopyMarking(out + 1, text, most, kJsonCare);
  if (!copied.marked) {
    *copied.end = '"';
    return copied.end + 1;
  }
  // Written again from the start, from the text.
  if (!IsUtf8(copied.text)) {
    return Copy(Base64(Copy(out, "{\"bytes\":\""sv), copied.text), "\"}"sv);
  }
  ++out;
  for (const char c : copied.text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != '"' && byte != '\\') {
      *out++ = c;
      continue;
    }
    *out++ = '\\';
    switch (byte) {
      case '"':
      case '\\':
        *out++ = c;
        break;
      case '\b':
        *out++ = 'b';
        break;
      case '\f':
        *out++ = 'f';
        break;
      case '\n':
        *out++ = 'n';
        break;
      case '\r':
        *out++ = 'r';
        break;
      case '\t':
        *out++ = 't';
        break;
      default:
        out = Copy(out, "u00"sv);
        *out++ = kHexDigits[byte >> 4];
        *out++ = kHexDigits[byte & 15];
    }
  }
  *out++ = '"';
  return out;
}

// The external name as the report prints it: upper-cased. A name is
// upper-cased only once its file is opened, so one not opened is here.
struct PrintedName {
  char text[ProgramRecord::kNameWidth + 1];
  explicit PrintedName(const ProgramRecord& record) {
    for (int k = 0; k <= ProgramRecord::kNameWidth; ++k) {
      const char c = record.name[k];
      text[k] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }
};

// A constant as the block holds it, ended at a NUL, without the trailing
// blanks that pad it to its width: "PETIT   " is exported as "PETIT".
std::string_view Unpadded(const char* text, int width) {
  size_t length = strnlen(text, static_cast<size_t>(width));
  while (length > 0 && text[length - 1] == ' ') --length;
  return {text, length};
}

// The date's ten bytes as stored; a date cut short by a NUL is no date.
std::string_view StoredDate(const ProgramRecord& record) {
  return {record.constants.date, static_cast<size_t>(WidthOf(Constant::Date))};
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int month, int year) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    // How many bytes follow the lead, and the range of the first of them,
    // which shuts out overlong forms, surrogates and what lies past U+10FFFF.
    int following = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      following = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      following = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      following = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - p <= following || p[1] < low || p[1] > high) return false;
    for (int k = 2; k <= following; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
    }
    p += following + 1;
  }
  return true;
}

bool IsoDate(std::string_view date, char (&iso)[kIsoDateSize]) {
  if (date.size() != 10 || date[2] != '/' || date[5] != '/') return false;
  for (const int k : {0, 1, 3, 4, 6, 7, 8, 9}) {
    if (date[k] < '0' || date[k] > '9') return false;
  }
  auto number = [&date](int from, int digits) {
    int value = 0;
    for (int k = from; k < from + digits; ++k) value = value * 10 + (date[k] - '0');
    return value;
  };
  const int day = number(0, 2), month = number(3, 2), year = number(6, 4);
  if (year == 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(month, year)) {
    return false;
  }
  constexpr int kOrder[] = {6, 7, 8, 9, -1, 3, 4, -1, 0, 1};  // -1: a hyphen
  for (int k = 0; k < 10; ++k) iso[k] = kOrder[k] < 0 ? '-' : date[kOrder[k]];
  iso[10] = '\0';
  return true;
}

Export::Export(FILE* out, ExportFormat format, char* buffer)
    : out_(out), format_(format), buffer_(buffer) {
  if (format_ == ExportFormat::Csv) {
    pending_ = static_cast<size_t>(Copy(buffer_, kCsvHeader) - buffer_);
  }
}

void Export::Flush() {
  if (pending_ > 0 && std::fwrite(buffer_, 1, pending_, out_) != pending_) write_failed_ = true;
  pending_ = 0;
}

char* Export::AddCsv(const ListedProgram& program, char* out) const {
  const ProgramScan& scan = *program.scan;
  const ProgramRecord& record = scan.record;
  out = Decimal(out, static_cast<uint64_t>(program.line));
  *out++ = ',';
  out = CsvField(out, program.path.data(), program.path.size());
  *out++ = ',';
  out = CsvField(out, PrintedName(record).text, ProgramRecord::kNameWidth);
  *out++ = ',';
  out = Boolean(out, scan.opened);
  *out++ = ',';
  if (scan.opened) out = Decimal(out, static_cast<uint64_t>(scan.size));
  *out++ = ',';
  out = Boolean(out, record.found);
  for (const ConstantField& field : kConstantFields) {
    *out++ = ',';
    if (record.found) {
      const std::string_view value =
          Unpadded(record.constants.Text(field.constant), WidthOf(field.constant));
      out = CsvField(out, value.data(), value.size());
    }
  }
  *out++ = ',';
  char iso[kIsoDateSize];
  if (record.found && IsoDate(StoredDate(record), iso)) out = Copy(out, {iso, kIsoDateSize - 1});
  *out++ = ',';
  out = Copy(out, kErrorWords[static_cast<int>(scan.error)]);
  *out++ = '\n';
  return out;
}

char* Export::AddJson(const ListedProgram& program, char* out) const {
  const ProgramScan& scan = *program.scan;
  const ProgramRecord& record = scan.record;
  out = Copy(out, "{\"type\":\"file\",\"line\":"sv);
  out = Decimal(out, static_cast<uint64_t>(program.line));
  out = Copy(out, ",\"path\":"sv);
  out = JsonField(out, program.path.data(), program.path.size());
  out = Copy(out, ",\"name\":"sv);
  out = JsonField(out, PrintedName(record).text, ProgramRecord::kNameWidth);
  out = Boolean(Copy(out, ",\"opened\":"sv), scan.opened);
  out = Copy(out, ",\"size\":"sv);
  out = scan.opened ? Decimal(out, static_cast<uint64_t>(scan.size)) : Copy(out, "null"sv);
  out = Boolean(Copy(out, ",\"found\":"sv), record.found);
  for (const ConstantField& field : kConstantFields) {
    out = Copy(out, field.json_key);
    const std::string_view value =
        Unpadded(record.constants.Text(field.constant), WidthOf(field.constant));
    out = record.found ? JsonField(out, value.data(), value.size()) : Copy(out, "null"sv);
  }
  out = Copy(out, ",\"date_iso\":"sv);
  char iso[kIsoDateSize];
  if (record.found && IsoDate(StoredDate(record), iso)) {
    *out++ = '"';
    out = Copy(out, {iso, kIsoDateSize - 1});
    *out++ = '"';
  } else {
    out = Copy(out, "null"sv);
  }
  out = Copy(out, ",\"error\":"sv);
  if (scan.error == FileError::None) {
    out = Copy(out, "null"sv);
  } else {
    *out++ = '"';
    out = Copy(out, kErrorWords[static_cast<int>(scan.error)]);
    *out++ = '"';
  }
  return Copy(out, "}\n"sv);
}

void Export::Add(const ListedProgram& program) {
  // The run's lines are never longer; a longer one is refused, not cut.
  if (program.path.size() > kLongestPath) {
    write_failed_ = true;
    return;
  }
  const size_t most =
      kMostBesidesThePath + (format_ == ExportFormat::Csv ? MostForCsv(program.path.size())
                                                          : MostForJson(program.path.size()));
  if (kBufferSize - pending_ < most) Flush();
  char* const out = buffer_ + pending_;
  char* const end = format_ == ExportFormat::Csv ? AddCsv(program, out) : AddJson(program, out);
  pending_ += static_cast<size_t>(end - out);
}

void Export::Finish(const Totals& totals) {
  if (format_ == ExportFormat::Json) {
    if (kBufferSize - pending_ < kMostBesidesThePath) Flush();
    char* out = Copy(buffer_ + pending_, "{\"type\":\"summary\",\"files\":"sv);
    out = Decimal(out, static_cast<uint64_t>(totals.files_listed));
    out = Decimal(Copy(out, ",\"total_size\":"sv), totals.total_bytes);
    pending_ = static_cast<size_t>(Copy(out, "}\n"sv) - buffer_);
  }
  Flush();
}

}  // namespace korrin
