#include "output/writer.h"

#include <cstdio>
#include <string>

#include "driver/diagnostics.h"
#include "driver/platform.h"
#include "driver/settings.h"
#include "optimizer/units.h"
#include "source/statement.h"

namespace {

// Where rendered bytes go: a string (for the tests) or the output file,
// written through a buffer so the whole output never has to be held. A long
// stretch of bytes goes to the file straight from where it lies.
struct OutputSink {
  static constexpr std::size_t BUFFER_LIMIT = std::size_t(1) << 18;
  std::string* text = nullptr;
  std::FILE* file = nullptr;
  std::string buffer;
  bool failed = false;

  void write(std::string_view bytes) {
    if (text) {
      text->append(bytes.data(), bytes.size());
      return;
    }
    if (bytes.size() >= BUFFER_LIMIT / 4) {
      flush();
      put_to_file(bytes);
      return;
    }
    buffer.append(bytes.data(), bytes.size());
    if (buffer.size() >= BUFFER_LIMIT) flush();
  }
  void flush() {
    put_to_file(buffer);
    buffer.clear();
  }
  void put_to_file(std::string_view bytes) {
    if (file && !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
      failed = true;
  }
};

// The output text. A text without a final line feed (the last line of a file
// that lacked one) gets a line feed only when something is written after it.
// The lines no pass touched lie one after the other in the input's buffer:
// texts that follow each other there are handed to the sink as one stretch.
struct OutputText {
  OutputSink& sink;
  bool open_line = false;
  const char* stretch = nullptr;  // the texts put since the last hand-over
  std::size_t stretch_size = 0;

  void put(std::string_view text) {
    if (text.empty()) return;
    if (open_line) {
      finish();
      sink.write("\n");
    }
    if (stretch && text.data() == stretch + stretch_size) {
      stretch_size += text.size();
    } else {
      finish();
      stretch = text.data();
      stretch_size = text.size();
    }
    open_line = text.back() != '\n';
  }
  // Hands the texts put so far to the sink.
  void finish() {
    if (stretch) sink.write(std::string_view(stretch, stretch_size));
    stretch = nullptr;
    stretch_size = 0;
  }
};

void render_into(const Statement* first, OutputText& out) {
  const bool fcout = (option_flags & OF_FCOUT) != 0;
  const bool finfo = (option_flags & OF_FINFO) != 0;
  for_each_statement(first, [&](const Statement* s) {
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
  });
  out.finish();
}

// How many symbolic links the output name may pass through before it counts
// as a loop, as many as the system itself follows.
constexpr int MAX_LINKS = 40;

// Where the output goes. A replaced output is written to a temporary file
// beside `file` and renamed over it; otherwise the output name is opened
// and written directly.
struct OutputPlace {
  bool replace;
  std::string file;     // the file to create or replace, links followed (for
                        // a direct write: the name, or the /dev/ or /proc/
                        // name its links lead to)
  int permission_bits;  // of the file replaced, or -1 for a new file
};

// The part of `path` up to and including its last '/' ("" for none).
std::string directory_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool starts_with(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Devices and the kernel's files are written directly: "-o /dev/stdout"
// must append to whatever standard output is, never replace it.
bool is_device_name(const std::string& name) {
  return starts_with(name, "/dev/") || starts_with(name, "/proc/");
}

// "/dev/stdout", "/dev/stderr", "/dev/fd/N" and "/proc/self/fd/N" name one
// of the program's own open descriptors; the output is written through it,
// at the place the shell's redirection gives it, so "-o /dev/stdout >>
// all.s" appends to all.s. Returns the descriptor, or -1 for another name.
int descriptor_named(const std::string& name) {
  if (name == "/dev/stdout") return 1;
  if (name == "/dev/stderr") return 2;
  for (std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!starts_with(name, prefix)) continue;
    std::string_view digits = std::string_view(name).substr(prefix.size());
    if (digits.empty() || digits.size() > 9) return -1;
    int descriptor = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      descriptor = descriptor * 10 + (c - '0');
    }
    return descriptor;
  }
  return -1;
}

// Follows the output name through its symbolic links (a relative target is
// taken from the link's directory) to the file it names. A name that
// reaches no regular file, or an existing one that cannot be replaced
// (a FIFO, a terminal, a directory), is written directly; a link loop and
// an existing file the user may not write are error 10.
OutputPlace choose_place(const std::string& name) {
  const OutputPlace direct{false, name, -1};
  if (name.empty()) return direct;
  std::string path = name;
  for (int links = 0;; ++links) {
    if (is_device_name(path)) return {false, path, -1};
    NameInfo info = inspect_name(path);
    if (info.kind == NAME_MISSING) return {true, path, -1};
    if (info.kind == NAME_REGULAR) {
      if (!may_write(path)) report_error(ERR_CANT_OPEN, name);
      if (!may_replace(directory_of(path), path)) return direct;
      return {true, path, static_cast<int>(info.permission_bits)};
    }
    if (info.kind != NAME_LINK) return direct;
    if (links == MAX_LINKS) report_error(ERR_CANT_OPEN, name);
    std::string target;
    if (!read_link(path, &target) || target.empty()) return direct;
    path = target[0] == '/' ? target : directory_of(path) + target;
  }
}

// The open output file. Whatever ends the write early (an error, memory
// running out) closes the file and removes a temporary file, so the output
// name keeps what it held before the run.
struct OpenOutput {
  std::FILE* file = nullptr;
  bool is_temp = false;

  ~OpenOutput() {
    if (file) std::fclose(file);
    if (is_temp) remove_temp_file();
  }
  // Flushes and closes the file; false when anything written was lost.
  bool close(OutputSink& sink) {
    sink.flush();
    bool ok = !sink.failed;
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    file = nullptr;
    return ok;
  }
};

// SIGXFSZ and SIGPIPE are ignored for the life of one of these.
struct WriteSignalsIgnored {
  WriteSignalsIgnored() { ignore_write_signals(); }
  ~WriteSignalsIgnored() { restore_write_signals(); }
};

void render_to(std::FILE* file, const SourceUnit* unit, OutputSink& sink) {
  sink.file = file;
  OutputText out{sink};
  if (unit) render_into(unit->first_statement, out);
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

// The output is written to a temporary file beside the file it replaces
// and renamed over it only when complete, so the output name holds the old
// file or the new one, never a part. Where no temporary file can be made,
// and for devices and other files that are not regular files, the output
// name is written directly.
void write_output(std::string_view file_name, const SourceUnit* unit) {
  std::string name(file_name);
  OutputPlace place = choose_place(name);
  WriteSignalsIgnored signals;
  OpenOutput output;
  if (place.replace) {
    output.file = create_temp_file(directory_of(place.file), place.permission_bits);
    output.is_temp = output.file != nullptr;
  }
  if (output.is_temp) {
    OutputSink sink;
    render_to(output.file, unit, sink);
    if (!output.close(sink)) report_error(ERR_CANT_WRITE, file_name);
    output.is_temp = false;
    if (!rename_temp_file(place.file)) report_error(ERR_CANT_WRITE, file_name);
    return;
  }
  int descriptor = descriptor_named(place.file);
  if (descriptor >= 0) output.file = open_descriptor(descriptor);
  if (!output.file) output.file = std::fopen(name.c_str(), "wb");
  if (!output.file) report_error(ERR_CANT_OPEN, file_name);
  OutputSink sink;
  render_to(output.file, unit, sink);
  if (!output.close(sink)) {
    // Never leave a truncated file behind as if it were the result; devices,
    // pipes, other files that are not regular files, and whatever a name
    // under /dev/ or /proc/ leads to are left alone.
    if (!is_device_name(place.file) && is_regular_file(name)) std::remove(name.c_str());
    report_error(ERR_CANT_WRITE, file_name);
  }
}
