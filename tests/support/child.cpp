// The part of a driven run that is the same on every system: the output
// gathered as it comes, and the end of the run.
#include "support/child.h"

namespace teilimp::testing {

void Child::drain_into(bool error, std::string& sink) {
    std::string chunk;
    while (read_stream(error, chunk)) {
        std::lock_guard<std::mutex> lock(mutex_);
        sink += chunk;
        chunk.clear();
    }
}

std::string Child::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return in_lines(out_);
}

bool Child::wait_for(std::string_view needle, std::chrono::milliseconds limit) const {
    return eventually([&] { return output().find(needle) != std::string::npos; }, limit);
}

RunResult Child::finish() {
    if (finished_) return result_;
    close_input();
    wait_for_end();
    // Grandchildren (a command typed at a pause) may still hold the pipes;
    // the readers end when the last writer is gone.
    outReader_.join();
    errReader_.join();
    finished_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    result_.rawOut = out_;
    result_.out = in_lines(out_);
    result_.err = in_lines(err_);
    return result_;
}

}  // namespace teilimp::testing
