// A picture's samples at the size of their type (see samples.h).
#include "pictures/samples.h"

namespace {

// The store of `type`, empty.
Samples::Store emptyStore(SampleType type)
{
    switch (type) {
    case SampleType::uint8: return std::vector<std::uint8_t>();
    case SampleType::uint16: return std::vector<std::uint16_t>();
    case SampleType::uint32: return std::vector<std::uint32_t>();
    case SampleType::int8: return std::vector<std::int8_t>();
    case SampleType::int16: return std::vector<std::int16_t>();
    case SampleType::int32: return std::vector<std::int32_t>();
    case SampleType::float32: return std::vector<float>();
    default: return std::vector<double>();
    }
}

}  // namespace

Samples::Samples(SampleType type, std::size_t count) : store(emptyStore(type))
{
    std::visit([count](auto& v) { v.resize(count); }, store);
}

Samples::Samples(SampleType type, const std::vector<double>& values) : store(emptyStore(type))
{
    std::visit(
        [&values](auto& v) {
            using T = typename std::decay_t<decltype(v)>::value_type;
            v.resize(values.size());
            for (std::size_t i = 0; i < values.size(); ++i) v[i] = static_cast<T>(values[i]);
        },
        store);
}

std::vector<double> Samples::values() const
{
    return std::visit([](const auto& v) { return std::vector<double>(v.begin(), v.end()); }, store);
}
