#include "platform/NativeRegion.h"

#include <utility>

NativeRegion::NativeRegion(std::shared_ptr<const Data> data)
    : m_data(std::move(data))
{
}
