// Copying a stretch of the file into the new one with every line end other
// than CR LF made CR LF: the one copier of the background copy and the
// rewrite, each of which hands it the file's bytes its own way.
#ifndef ORRINVALE_APP_MENDING_COPY_H_
#define ORRINVALE_APP_MENDING_COPY_H_

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "app/line_end_mending.h"
#include "runtime/output_file.h"
#include "runtime/seams.h"

class MendingCopier {
 public:
  // unitsEnd: where the source's last whole unit ends.
  MendingCopier(int64_t unitsEnd, int unitSize, LineEndMender mender)
      : unitsEnd_(unitsEnd), unitSize_(unitSize), mender_(mender) {}

  // Appends the source's units from from to end (unit boundaries) to output,
  // mended. view(start, stop, &bytes) gives the source's bytes [start, stop)
  // or false if they cannot be read; the units just before and after the
  // stretch are asked for too, so that a CR or an LF at either edge is known
  // for half of a CR LF or not. False if the source could not be read.
  template <typename View>
  bool copy(int64_t from, int64_t end, View&& view, OutputFile* output) const {
    const int64_t unit = unitSize_;
    const int64_t pieceSize = seams::sizeOf(seams::Size::CopyPiece, kPiece);
    while (from < end) {
      int64_t piece = std::min(end, from + pieceSize);
      int64_t viewFrom = from > 0 ? from - unit : 0;
      int64_t viewTo = std::min(unitsEnd_, piece + unit);
      std::string_view bytes;
      if (!view(viewFrom, viewTo, &bytes)) return false;
      const auto* units = reinterpret_cast<const unsigned char*>(bytes.data()) + (from - viewFrom);
      size_t count = static_cast<size_t>((piece - from) / unit);
      const unsigned char* after = viewTo >= piece + unit ? units + count * unit : nullptr;
      char* out = output->room(2 * count * static_cast<size_t>(unit) + 16);
      output->used(mender_(viewFrom < from ? units - unit : nullptr, units, count, after, out));
      from = piece;
    }
    return true;
  }

 private:
  // How much of a stretch is looked at at once.
  static constexpr int64_t kPiece = int64_t{512} << 10;

  int64_t unitsEnd_;
  int unitSize_;
  LineEndMender mender_;
};

#endif  // ORRINVALE_APP_MENDING_COPY_H_
