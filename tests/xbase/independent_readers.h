#pragma once
// Test helper: the independent readers of dBASE tables, run over a file as child
// processes: Python's dbf and dbfread (through data/dbf_dump.py) and Perl's XBase module
// (through data/xbase_dump.pl). Each gives one line per record.
#include <cstdio>
#include <string>
#include <vector>

inline const std::string kSystemPython = "/usr/bin/python3";

// The lines a command prints (standard error included when the command asks for it).
inline std::vector<std::string> runLines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return lines;
    std::string line;
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    pclose(pipe);
    return lines;
}

// `reader` is "dbf" or "dbfread".
inline std::vector<std::string> pythonDump(const char* reader, const std::string& table) {
    return runLines(kSystemPython + " " + QV_TEST_DATA_DIR + "/dbf_dump.py " + reader + " '" +
                    table + "' 2>&1");
}

inline std::vector<std::string> perlDump(const std::string& table) {
    return runLines(std::string("perl ") + QV_TEST_DATA_DIR + "/xbase_dump.pl '" + table +
                    "' 2>&1");
}
