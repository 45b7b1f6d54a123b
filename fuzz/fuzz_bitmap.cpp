// The bitmap reader of the view, the stitching dialog and the image list: any bytes are either
// refused or read into a picture that writes back and reads again the same.
#include <QString>

#include <cstdint>

#include "fuzz/fuzz_util.h"
#include "camera/BitmapFile.h"
#include "platform/durable_file.h"

// Saves are checked as always but not synced to the disk: a sync per input would bound the search.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDurableSync(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path in = fuzz::ScratchDir() / "in.bmp";
  fuzz::WriteFile(in, data, size);
  const QString path = QString::fromStdString(in.string());
  BitmapLayout layout;
  const BitmapStatus probed = ProbeBitmapFile(path, &layout);
  BitmapImage image;
  image.format.biWidth = 7;  // a refused file must leave this as it was
  const BitmapStatus st = ReadBitmapFile(path, &image);
  FUZZ_CHECK((st == BitmapStatus::Ok) == (probed == BitmapStatus::Ok) || st == BitmapStatus::OutOfMemory);
  if (st != BitmapStatus::Ok) {
    FUZZ_CHECK(image.format.biWidth == 7);
    return 0;
  }
  FUZZ_CHECK(image.pixels.size() == std::size_t(image.Width()) * image.Height() * 3);
  QImage thumb;
  ReadBitmapThumbnail(path, 16, 12, &thumb);
  const QString out = QString::fromStdString((fuzz::ScratchDir() / "out.bmp").string());
  FUZZ_CHECK(WriteBitmapFile(out, image) == BitmapStatus::Ok);
  BitmapImage again;
  FUZZ_CHECK(ReadBitmapFile(out, &again) == BitmapStatus::Ok);
  FUZZ_CHECK(again.pixels == image.pixels);
  return 0;
}
