#include "output/writer.h"

#include <sys/stat.h>

#include <cstdio>

#include "driver/diagnostics.h"
#include "driver/settings.h"
#include "optimizer/units.h"
#include "source/statement.h"

namespace {

// Where rendered bytes go: a string (for the tests) or the output file,
// written through a buffer so the whole output never has to be held.
struct OutputSink {
  std::string* text = nullptr;
  std::FILE* file = nullptr;
  std::string buffer;
  bool failed = false;

  void write(std::string_view bytes) {
    if (text) {
      text->append(bytes.data(), bytes.size());
      return;
    }
    buffer.append(bytes.data(), bytes.size());
    if (buffer.size() >= (1u << 18)) flush();
  }
  void flush() {
    if (file && !buffer.empty() &&
        std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size())
      failed = true;
    buffer.clear();
  }
};

// The output text. A text without a final line feed (the last line of a file
// that lacked one) gets a line feed only when something is written after it.
struct OutputText {
  OutputSink& sink;
  bool open_line = false;

  void put(std::string_view text) {
    if (text.empty()) return;
    if (open_line) sink.write("\n");
    sink.write(text);
    open_line = text.back() != '\n';
  }
};

void render_into(const Statement* s, OutputText& out) {
  const bool fcout = (option_flags & OF_FCOUT) != 0;
  const bool finfo = (option_flags & OF_FINFO) != 0;
  for (; s; s = s->next) {
    prefetch_ahead(s);
    if (s->replacement) {
      if (fcout) {
        out.put(";;");
        out.open_line = false;
        out.put(s->text());
      }
      if (s->flags & SF_REWRITTEN) out.put(*s->replacement);
    } else if ((s->flags & SF_SHARED_CALL) && finfo) {
      out.put("\t.stk\t3\n");
      out.put(s->text());
      out.put("\t.stk\t-3\n");
    } else {
      out.put(s->text());
    }
  }
}

bool is_regular_file(const std::string& name) {
  struct stat info;
  return ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string render_statements(const Statement* first) {
  std::string bytes;
  OutputSink sink;
  sink.text = &bytes;
  OutputText out{sink};
  render_into(first, out);
  return bytes;
}

void write_output(std::string_view file_name, const SourceUnit* unit) {
  std::string name(file_name);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) report_error(ERR_CANT_OPEN, file_name);
  OutputSink sink;
  sink.file = f;
  OutputText out{sink};
  if (unit) render_into(unit->first_statement, out);
  sink.flush();
  bool ok = !sink.failed;
  ok = (std::fflush(f) == 0) && ok;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    // Never leave a truncated file behind as if it were the result; devices,
    // pipes and other files that are not regular files are left alone.
    if (is_regular_file(name)) std::remove(name.c_str());
    report_error(ERR_CANT_WRITE, file_name);
  }
}
