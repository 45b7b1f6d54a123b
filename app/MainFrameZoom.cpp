// Zoom of the image window, the toolbar and pane toggles, the image-processing menu on the
// still image, full screen, the background colour and the measuring-scale command.
#include <QColorDialog>
#include <QComboBox>
#include <QToolBar>

#include <cmath>
#include <vector>

#include "app/ApplicationView.h"
#include "app/MainFrame.h"
#include "platform/imglib/imglib.h"
#include "platform/strings.h"

namespace {

// "%.f" of the factor in percent, and the sign.
QString PercentText(double factor) { return QString::fromStdU16String(FormatW(u"%.f%%", factor * 100.0)); }

}  // namespace

// The size of the image the zoom works on: the current camera's, or the still frame's.
static QSize ZoomImageSize(CCameraProcess& camera) {
  if (camera.GetOpenedCount() > 0) {
    int w = 0, h = 0;
    (void)camera.GetImageSize(camera.GetCurCameraItem(), &w, &h);  // zeroed: an empty size zooms nothing
    return QSize(w, h);
  }
  BITMAPINFOHEADER f;
  camera.GetFrameFormat(&f);
  return QSize(f.biWidth, std::abs(f.biHeight));
}

void CMainFrame::ApplyZoom(double factor) {
  if (camera_.GetOpenedCount() == 0 && !camera_.HasFrame()) return;
  const QSize img = ZoomImageSize(camera_);
  if (img.width() <= 0 || img.height() <= 0) return;
  const std::int64_t width64 = std::int64_t(img.width() * factor);
  const std::int64_t height64 = std::int64_t(img.height() * factor);
  const RECT old = view_->ImageWindowRect();
  const RECT client = view_->ViewClientRect();
  const std::int64_t cw = client.right - client.left, ch = client.bottom - client.top;

  std::int64_t left = old.left + (std::int64_t(old.right - old.left) - width64) / 2;
  std::int64_t right = old.right - (std::int64_t(old.right - old.left) - width64) / 2;
  std::int64_t top = old.top + (std::int64_t(old.bottom - old.top) - height64) / 2;
  std::int64_t bottom = old.bottom - (std::int64_t(old.bottom - old.top) - height64) / 2;
  std::int64_t width = width64, height = height64;
  // A window can be at most 32767 pixels wide or high.
  if (width > 32767) {
    left += (width - 32767) / 2;
    right -= (width - 32767) / 2;
    width = 32767;
  }
  if (height > 32767) {
    top += (height - 32767) / 2;
    bottom -= (height - 32767) / 2;
    height = 32767;
  }
  if (cw > width && ch > height) {
    const std::int64_t dx = (cw - (right - left)) / 2 - left, dy = (ch - (bottom - top)) / 2 - top;
    left += dx, right += dx, top += dy, bottom += dy;
  }
  auto axis = [](std::int64_t& lo, std::int64_t& hi, std::int64_t size, std::int64_t client) {
    if (size < client)
      lo = (client - size) / 2;
    else if (lo >= 1)
      lo = 0;
    else if (hi < client)
      lo += client - hi;
    hi = lo + size;
  };
  axis(left, right, width, cw);
  axis(top, bottom, height, ch);

  stCameraItem item;
  camera_.GetCurCameraItem(&item);
  // Without an open camera there is no handle to tell the display size to.
  if (camera_.GetOpenedCount() > 0) (void)CameraSetDisplaySize(item.handle, int(width), int(height));  // advisory
  view_->MoveImageWindow(RECT{int(left), int(top), int(right), int(bottom)});
  view_->update();
  zoomFactor = factor;
}

void CMainFrame::OnZoomIn() {
  if (zoomFactor >= 10.0) return;
  zoomFactor = zoomFactor >= 9.75 ? 10.0 : zoomFactor + 0.25;
  ApplyZoom(zoomFactor);
  zoomCombo_->setEditText(PercentText(zoomFactor));
}

void CMainFrame::OnZoomOut() {
  if (zoomFactor <= 0.25) return;
  zoomFactor = zoomFactor <= 0.5 ? 0.25 : zoomFactor - 0.25;
  ApplyZoom(zoomFactor);
  zoomCombo_->setEditText(PercentText(zoomFactor));
}

void CMainFrame::OnZoomFitWindow() {
  const QSize img = ZoomImageSize(camera_);
  if (img.width() <= 0 || img.height() <= 0) return;  // nothing to fit, and no division by 0
  const RECT r = view_->CalcFitRect(img.width(), img.height());
  view_->MoveImageWindow(r);
  if (camera_.GetOpenedCount() > 0) {
    stCameraItem item;
    camera_.GetCurCameraItem(&item);
    (void)CameraSetDisplaySize(item.handle, r.right - r.left, r.bottom - r.top);  // advisory
  }
  zoomFactor = double(r.right - r.left) / img.width();
  zoomCombo_->setEditText(PercentText(zoomFactor));
  view_->update();
}

void CMainFrame::OnZoomOriginal() {
  OnZoomFitWindow();
  ApplyZoom(1.0);
  zoomCombo_->setCurrentIndex(3);
}

void CMainFrame::OnZoomRatioChange() {
  if (!camera_.HasFrame()) return;
  QString text = zoomCombo_->itemText(zoomCombo_->currentIndex());
  text.chop(1);
  ApplyZoom(text.toDouble() / 100.0);
}

void CMainFrame::OnMeasuringBar() {
  measureBar_->setVisible(measureBarFlag);
  measureBarFlag = !measureBarFlag;
}

void CMainFrame::OnZoomBar() {
  zoomBar_->setVisible(zoomBarFlag);
  zoomBarFlag = !zoomBarFlag;
}

void CMainFrame::OnImageListView() {
  ImageListPane()->show();
  ImageListPane()->raise();
}

void CMainFrame::OnFullScreen() { view_->ToggleFullScreen(); }

void CMainFrame::OnBackgroundColor() {
  const QColor c = QColorDialog::getColor(backgroundColor.isValid() ? backgroundColor : QColor(192, 192, 192), this);
  if (!c.isValid()) return;
  backgroundColor = c;
  QPalette pal = view_->palette();
  pal.setColor(QPalette::Window, c);
  view_->setPalette(pal);
  update();
  view_->update();
}

void CMainFrame::RunImageCommand(int id) {
  // Only on a still image: a valid frame and no camera open.
  if (camera_.GetOpenedCount() > 0) return;
  {
    const FrameView view = camera_.ViewFrame();
    if (!view) return;
    std::uint8_t* frame = view.Data();
    const int w = view.Width(), h = std::abs(view.Height());
    const KvImgImage img{frame, w, h, 3};
    std::vector<std::uint8_t> copy;
    auto copyOf = [&] {
      copy.assign(frame, frame + std::size_t(w) * h * 3);
      return KvImgImage{copy.data(), w, h, 3};
    };
    switch (id) {
      case ids::kEdgeEnhance: KvImgEdgeEnhance(copyOf(), img, 1); break;
      case ids::kAdaptiveThreshold:
        KvImgRGB2GRAY(img, img);
        KvImgAdaptiveThreshold(img, img);
        break;
      case ids::kDilate: KvImgDilate(img, img, 3); break;
      case ids::kErode: KvImgErode(img, img, 3); break;
      case ids::kNoiseFilter: KvImgGuassFilter(copyOf(), img); break;
      case ids::kGrayBalance:
        KvImgErode(img, img, 3);
        KvImgRGB2GRAY(img, img);
        KvImgGrayEqualize(img, img);
        break;
      default: return;
    }
  }
  RedrawView();
}
