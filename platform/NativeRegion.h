#pragma once

#include <memory>

// A visible region of a window, as an opaque value. Only the desktop that made a region can read it:
// each backend keeps its own representation behind NativeRegion::Data (a GDI region, a QRegion).
// Regions never change once made (difference and union give new ones), so copies share their data.
// A default-constructed NativeRegion holds nothing; backends treat it as an empty region.
class NativeRegion
{
public:
    // The backend's representation; it is released with the last NativeRegion that refers to it.
    class Data
    {
    public:
        virtual ~Data() = default;
    };

    NativeRegion() = default;
    explicit NativeRegion(std::shared_ptr<const Data> data);

    bool isNull() const { return m_data == nullptr; }

    // For backends: their representation, or null when the region was made by another backend.
    template <typename BackendData> const BackendData *dataAs() const
    {
        return dynamic_cast<const BackendData *>(m_data.get());
    }

private:
    std::shared_ptr<const Data> m_data; // shared, never changed
};
