// The host's one set of counters. The framer and the demultiplexer each count into their own copy
// (each only its own fields); the delivery thread adds the two and publishes the sum as one snapshot.
#pragma once

#include <cstdint>

namespace host {

struct Statistics {
  uint64_t packets = 0;             // every packet fed, asked for or not
  uint64_t bytes = 0;               // bytes of the input read
  uint64_t sections = 0;            // whole sections assembled
  uint64_t sections_delivered = 0;  // callback calls
  uint64_t cc_errors = 0;           // continuity breaks on the PIDs asked for
  uint64_t tei_drops = 0;           // packets with the transport_error_indicator, all PIDs
  uint64_t sync_losses = 0;         // times the sync byte was missing where one was due
  uint64_t duplicates = 0;          // legal duplicate packets ignored
  uint64_t torn_packets = 0;        // packets cut short by the next packet or by the end of the data
  uint64_t skipped_bytes = 0;       // bytes dropped while looking for sync (stamps and trailers excluded)
  uint64_t malformed_packets = 0;   // adaptation field or pointer_field beyond the packet
  uint64_t dropped_sections = 0;    // partial sections given up (loss, error, impossible length)
  uint64_t input_overruns = 0;      // datagrams lost because the delivery thread fell behind
  bool input_ended = false;         // the file or pipe was read to its end

  Statistics& operator+=(const Statistics& o) noexcept {
    packets += o.packets;
    bytes += o.bytes;
    sections += o.sections;
    sections_delivered += o.sections_delivered;
    cc_errors += o.cc_errors;
    tei_drops += o.tei_drops;
    sync_losses += o.sync_losses;
    duplicates += o.duplicates;
    torn_packets += o.torn_packets;
    skipped_bytes += o.skipped_bytes;
    malformed_packets += o.malformed_packets;
    dropped_sections += o.dropped_sections;
    input_overruns += o.input_overruns;
    input_ended = input_ended || o.input_ended;
    return *this;
  }
};

}  // namespace host
