// Whether a file is an ADIF file, and so must never be replaced by an
// output, told from its first and last bytes.
#ifndef QSOFLAT_ADIF_ADIF_HEAD_H_
#define QSOFLAT_ADIF_ADIF_HEAD_H_

#include <string_view>

namespace qsoflat {

// What a file's bytes show it to be. Not a scoped enum, since the output
// unit carries the answer as the number its caller's test gave.
enum adif_kind : int { not_adif = 0, adif_file, lotw_report };

// Tells from the first bytes of a file and its last ones (the tail starts
// at an even offset of the file, and may overlap the head or be empty)
// whether it is an ADIF file: one that holds "<eoh>", "<eor>" or
// "<APP_LoTW_EOF>" in any case, anywhere. Such a file is a LoTW report
// where it also holds "APP_LoTW_" in any case. Bytes that start with a
// UTF-16 byte-order mark are read as UTF-16, the tail in the same byte
// order.
adif_kind adif_kind_of(std::string_view head, std::string_view tail);

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_ADIF_HEAD_H_
