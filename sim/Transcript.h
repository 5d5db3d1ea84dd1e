#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sim {

// C-style escaping of raw line bytes so that a transcript shows every byte
// unambiguously on one text line: \n, \r, \t, \\ and \xNN for anything else
// outside printable ASCII.
std::string escapeBytes(std::string_view bytes);

// The transcript file cannot be made (vantrel-sim's file exit status).
class TranscriptUnwritable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The simulator's conversation log: "> " and the bytes of each received
// command line, "< " and the bytes of each reply, "# " and a note. Flushed per line so that a
// test or a person can follow it live with tail -f.
class Transcript {
public:
    // Opens (truncates) the file; throws TranscriptUnwritable when it cannot.
    explicit Transcript(const std::string& path);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void received(std::string_view bytes) { write("> ", bytes); }
    void sent(std::string_view bytes) { write("< ", bytes); }
    // What happened to the instrument or its line (an outage): "# " and the
    // text, never to be taken for traffic.
    void note(std::string_view text) { write("# ", text); }

private:
    void write(const char* direction, std::string_view bytes);
    std::FILE* m_file;
};

} // namespace sim
