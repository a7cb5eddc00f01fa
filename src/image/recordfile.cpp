// Intel HEX and Motorola S-record through the SRecord library, with its
// errors and warnings caught as our refusals and its line numbers mapped
// back to the file as given.

#include "image/flash.h"

#include <QTemporaryFile>

#include <srecord/input/file/intel.h>
#include <srecord/quit.h>
#include <srecord/record.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Debian's libsrecord-dev ships the Motorola reader in the library but not its
// header (srecord/input/file/motorola.h); this is upstream's declaration of
// the one member we call.
namespace srecord {
class input_file_motorola : public input_file {
public:
    static pointer create(const std::string& file_name);
};
}  // namespace srecord

namespace modburn::image {

namespace {

// Thrown by Catcher::exit to unwind out of the reader instead of ending the process.
struct Stop {};

// SRecord reports through its quit object, whose default prints to stderr and
// calls exit(); this one keeps the first message, warnings included (a
// garbage line, a missing end record may be a cut-off file), and unwinds on a
// fatal one. An S-record file without its optional S0 header is fine.
class Catcher final : public srecord::quit {
public:
    const std::string& First() const { return first_; }

    void message_v(const char* format, va_list args) override
    {
        if (!first_.empty())
            return;
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        const std::string_view message(text);
        if (!message.ends_with("warning: no header record"))
            first_ = message;
    }
    void exit(int) override { throw Stop{}; }

private:
    std::string first_;
};

// SRecord reads a named file and takes neither CR LF endings, blanks around a
// record nor blank lines before the first; it gets the records alone, one a
// line, and this maps its line numbers back.
struct Lines {
    QByteArray text;
    std::vector<int> original;  // original[i]: the file's line number of text's line i + 1
};

Lines RecordLines(QByteArrayView content)
{
    Lines lines;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    int number = 0;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        ++number;
        qsizetype first = start;
        qsizetype last = end;
        while (first < last && blank(content[first]))
            ++first;
        while (last > first && blank(content[last - 1]))
            --last;
        if (last > first) {
            lines.text.append(content.sliced(first, last - first));
            lines.text.append('\n');
            lines.original.push_back(number);
        }
        start = end + 1;
    }
    return lines;
}

// SRecord's line `line` of the records alone, as the file's line.
QString Position(int line, const Lines& lines)
{
    if (line < 1 || static_cast<std::size_t>(line) > lines.original.size())
        return QStringLiteral("end of file");
    return QStringLiteral("line %1").arg(lines.original[static_cast<std::size_t>(line - 1)]);
}

// Takes a leading "<number>: " off `text`; 0 when there is none.
int TakeLine(std::string& text)
{
    std::size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || text.compare(digits, 2, ": ") != 0)
        return 0;
    const int line = std::stoi(text.substr(0, digits));
    text.erase(0, digits + 2);
    return line;
}

// "<file>: <line>: [warning: ]<text>" as "line <n>: <text>" in the file's numbering.
QString Reworded(std::string message, const std::string& fileName, const Lines& lines)
{
    if (message.compare(0, fileName.size() + 2, fileName + ": ") == 0)
        message.erase(0, fileName.size() + 2);
    const int line = TakeLine(message);
    if (message.compare(0, 9, "warning: ") == 0)
        message.erase(0, 9);
    // SRecord skips such lines; here they refuse the file.
    if (message == "ignoring garbage lines")
        message = "not a record";
    const QString text = QString::fromStdString(message);
    return line == 0 ? text : Position(line, lines) + QStringLiteral(": ") + text;
}

// The line SRecord has just read, from its "<file>: <line>".
QString Where(const srecord::input& in, const std::string& fileName, const Lines& lines)
{
    std::string at = in.filename_and_line() + ": ";
    if (at.compare(0, fileName.size() + 2, fileName + ": ") == 0)
        at.erase(0, fileName.size() + 2);
    return Position(TakeLine(at), lines);
}

}  // namespace

std::optional<QString> ReadRecords(QByteArrayView content, Format format, FlashImage& flash)
{
    const Lines lines = RecordLines(content);
    QTemporaryFile file;
    if (!file.open() || file.write(lines.text) != lines.text.size() || !file.flush()) {
        return QStringLiteral("cannot write the records to a temporary file: %1").arg(file.errorString());
    }
    file.close();  // the file stays until `file` goes
    const std::string fileName = file.fileName().toStdString();

    // Declared before the input, so it outlives it: the input's destructor may still report.
    Catcher catcher;
    srecord::input::pointer in;
    std::optional<QString> why;
    try {
        in = format == Format::Ihex ? srecord::input_file_intel::create(fileName)
                                    : srecord::input_file_motorola::create(fileName);
        in->set_quit(catcher);
        srecord::record record;
        // A warning that came with a record is about a line before it.
        while (in->read(record) && catcher.First().empty()) {
            if (record.get_type() != srecord::record::type_data)
                continue;
            const auto placed = flash.Put(record.get_address(), std::span(record.get_data(), record.get_length()));
            if (placed) {
                why = Where(*in, fileName, lines) + QStringLiteral(": ") + *placed;
                break;
            }
        }
    } catch (const Stop&) {
        // The message is the catcher's.
    }
    if (!why && !catcher.First().empty())
        why = Reworded(catcher.First(), fileName, lines);

    // An input whose file never opened retries the open in its destructor and
    // ends the process when that fails too; such an input is kept, not destroyed.
    if (in && catcher.First().compare(0, fileName.size() + 8, fileName + ": open: ") == 0) {
        static std::mutex keptLock;
        static auto* kept = new std::vector<srecord::input::pointer>;  // never destroyed, not even at exit
        const std::lock_guard lock(keptLock);
        kept->push_back(in);
    }
    return why;
}

}  // namespace modburn::image
