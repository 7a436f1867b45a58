// CameraShow.cpp - images and frames on the HDMI output.
//
// The display path reads a shown image by DMA from physically contiguous
// memory: a NumPy image is first packed into a pool block (grey rows, or
// B, G, R pixels) and then shown with VYXZEB_ShowUserLoadData.  The screen
// rectangle is the library's video widget, with the image scaled to fill it.
#include <string>

#include "CameraCore.h"
#include "LibraryError.h"
#include "PoolBlock.h"
#include "Session.h"
#include "Values.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {
constexpr unsigned kGreyBits = 8;
constexpr unsigned kColourBits = 24;
constexpr unsigned kColourChannels = 3;
constexpr unsigned kLargestCoordinate = 0xFFFF;  // the widget is clamped to the screen anyway
}  // namespace

void CameraCore::placeOnScreen(py::object at) const {
    if (at.is_none()) return;
    const char* name = "VYXZEB_SetVideoWidgetPos";
    const auto v = toUnsignedTuple(at, 4, name, kLargestCoordinate, "at is (x, y, width, height) on the screen");
    callUnlocked(name, [&] { return VYXZEB_SetVideoWidgetPos(m_index, unsigned(v[0]), unsigned(v[1]), unsigned(v[2]), unsigned(v[3])); });
    callUnlocked("VYXZEB_SetPosition", [&] { return VYXZEB_SetPosition(m_index, 0, 0, unsigned(v[2]), unsigned(v[3])); });
}

PoolBlock& CameraCore::showBlock(const std::shared_ptr<Session>& session, unsigned long bytes) {
    std::unique_ptr<PoolBlock> old;
    std::lock_guard<std::mutex> lock(m_lock);
    std::unique_ptr<PoolBlock>& block = m_showBlocks[m_nextShowBlock];
    m_nextShowBlock ^= 1;
    if (!block || block->size() < bytes) {
        old = std::move(block);
        old.reset();  // give the smaller block back before taking a larger one
        block = std::make_unique<PoolBlock>(session, bytes);
    }
    return *block;
}

void CameraCore::show(const py::array& image, py::object at) {
    auto s = session("VYXZEB_ShowUserLoadData");
    const ImageSource src = imageSource(image, "VYXZEB_ShowUserLoadData");
    const bool grey = src.channels == 1;
    const unsigned bits = grey ? kGreyBits : kColourBits;
    const size_t rowBytes = static_cast<size_t>(src.width) * bits / 8;
    const unsigned long bytes = static_cast<unsigned long>(rowBytes * src.height);
    placeOnScreen(at);
    int rc;
    {
        py::gil_scoped_release unlocked;
        PoolBlock& block = showBlock(s, bytes);
        packImage(src, grey ? 1 : kColourChannels, rowBytes, block.data());
        rc = VYXZEB_ShowUserLoadData(m_index, block.data(), src.width, src.height, bits);
    }
    check(rc, "VYXZEB_ShowUserLoadData");
}

void CameraCore::showFrame(py::object at) {
    auto s = session("VYXZEB_ShowCaptureData");
    placeOnScreen(at);
    const FrameGeometry g = geometry();
    if (std::unique_ptr<FrameHold> triggered = takeTriggered()) {
        triggered->show();
        triggered->finish();
        return;
    }
    int shown, released;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(s->captureLock(m_index));
        std::unique_ptr<FrameHold> frame = waitFrame(s, g);
        shown = frame->showUnlocked();
        released = frame->giveBack();
    }
    check(shown, "VYXZEB_ShowCaptureData");
    check(released, "VYXZEB_ReleaseBuffer");
}

}  // namespace vyxpy
