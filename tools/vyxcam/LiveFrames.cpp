// LiveFrames.cpp - the latest-frame slot of the live view.
#include "LiveFrames.h"

#include <cstring>

namespace vyxcam {

Frame::Frame(unsigned long sequence, const ImageView& source) : m_sequence(sequence)
{
    m_image.width = source.width;
    m_image.height = source.height;
    m_image.channels = source.channels;
    const size_t row = static_cast<size_t>(source.width) * source.channels;
    m_image.pixels.resize(row * source.height);
    for (int y = 0; y < source.height; ++y)
        std::memcpy(&m_image.pixels[row * y], source.pixels + source.stride * y, row);
}

const std::vector<uint8_t>& Frame::jpeg() const
{
    std::call_once(m_encoded, [this] { m_jpeg = encodeJpeg(view(), kJpegQuality); });
    return m_jpeg;
}

std::array<unsigned long, 256> Frame::histogram() const
{
    // Colour frames count their luma (BT.601 weights).
    std::array<unsigned long, 256> counts{};
    const std::vector<uint8_t>& p = m_image.pixels;
    if (m_image.channels == 1) {
        for (uint8_t v : p) ++counts[v];
    } else {
        for (size_t i = 0; i + 2 < p.size(); i += 3) ++counts[(29 * p[i] + 150 * p[i + 1] + 77 * p[i + 2]) >> 8];
    }
    return counts;
}

void FrameHub::publish(std::shared_ptr<const Frame> frame)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_latest = std::move(frame);
    }
    m_changed.notify_all();
}

void FrameHub::publishFault(const CameraFault& fault)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fault = fault;
        ++m_faults;
    }
    m_changed.notify_all();
}

void FrameHub::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

std::shared_ptr<const Frame> FrameHub::latest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_latest;
}

unsigned long FrameHub::faults() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults;
}

FrameHub::Next FrameHub::waitNext(unsigned long after, unsigned long faultsSeen, Clock::time_point deadline) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Next next;
    m_changed.wait_until(lock, deadline, [&] {
        return m_closed || (m_latest && m_latest->sequence() > after) || m_faults > faultsSeen;
    });
    if (m_closed)
        next.closed = true;
    else if (m_latest && m_latest->sequence() > after)
        next.frame = m_latest;
    else if (m_faults > faultsSeen)
        next.fault = m_fault;
    return next;
}

}  // namespace vyxcam
