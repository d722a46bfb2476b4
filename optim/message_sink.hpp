// Where the optimisers and the fitting steps send their console lines. The lines are
// formatted as a stream formats them by default (integers in decimal, doubles in general
// format with 6 significant digits); the sink decides where they go.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace ferrule {

class MessageSink {
public:
    virtual void line(const std::string &text) = 0;

protected:
    ~MessageSink() = default;
};

// One line from its pieces, each streamed with the default formatting.
template <class... Pieces> std::string formatLine(const Pieces &...pieces) {
    std::ostringstream out;
    (out << ... << pieces);
    return out.str();
}

// The process's standard output, each line ended by a newline and a flush.
class StdoutSink final : public MessageSink {
public:
    void line(const std::string &text) override { std::cout << text << std::endl; }
};

// Keeps the lines, in order, for a caller that routes them itself.
class CollectingSink final : public MessageSink {
public:
    void line(const std::string &text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

} // namespace ferrule
