#pragma once

#include "MonitorMetrics.h"

#include <cstddef>
#include <string>

namespace cli {

// The text exposition format (version 0.0.4) of one snapshot of the monitor's figures, rendered a
// few lines at a time as it is read: a reader, however slow, holds the snapshot, its place in the
// text and the lines rendered last, never the whole text, which runs to tens of megabytes for a
// long list with histograms.
class MetricsExposition {
public:
    explicit MetricsExposition(MonitorMetrics::Snapshot figures);

    // Copies the next bytes of the text to buffer, up to size; 0 once it is all read.
    std::size_t Read(char* buffer, std::size_t size);
    // The rest of the text at once.
    std::string ReadAll();
    // The length of the whole text of these figures (rendered once for each snapshot).
    static std::size_t Size(const MonitorMetrics::Snapshot& figures);

private:
    // Renders the next header, entry or family into m_piece (perhaps nothing); false at the end.
    bool RenderNext();

    MonitorMetrics::Snapshot m_figures;
    std::size_t m_family = 0;
    bool m_headerDone = false;
    std::size_t m_row = 0;
    std::string m_piece; // rendered, and read up to m_read
    std::size_t m_read = 0;
};

} // namespace cli
