// A picture's samples at the size of their type: one byte a sample for an
// 8-bit picture, eight for 64-bit floating point, read as doubles (every
// value of every type is exact in one) or as the type itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// The type of the samples as the file (or the caller) holds them.  1-, 2-
// and 4-bit grey arrive as uint8, scaled to 0 .. 255 as PNG does.
enum class SampleType { uint8, uint16, uint32, int8, int16, int32, float32, float64 };

class Samples {
public:
    // One vector for each SampleType, in its order.
    using Store = std::variant<std::vector<std::uint8_t>, std::vector<std::uint16_t>, std::vector<std::uint32_t>,
                               std::vector<std::int8_t>, std::vector<std::int16_t>, std::vector<std::int32_t>,
                               std::vector<float>, std::vector<double>>;

    Samples() = default;
    // `count` zeros of `type`.
    Samples(SampleType type, std::size_t count);
    // Each value stored as `type`: exact for the values the type holds,
    // which are the only ones the decoders give it.
    Samples(SampleType type, const std::vector<double>& values);
    template <class T>
    explicit Samples(std::vector<T> values) : store(std::move(values))
    {
    }

    SampleType type() const { return static_cast<SampleType>(store.index()); }
    std::size_t size() const
    {
        return std::visit([](const auto& v) { return v.size(); }, store);
    }
    bool empty() const { return size() == 0; }
    double operator[](std::size_t i) const
    {
        return std::visit([i](const auto& v) { return static_cast<double>(v[i]); }, store);
    }
    // Every sample as a double.
    std::vector<double> values() const;

    // f(v) with v the std::vector of the samples' own type.
    template <class F>
    decltype(auto) visit(F&& f) const
    {
        return std::visit(std::forward<F>(f), store);
    }
    template <class F>
    decltype(auto) visit(F&& f)
    {
        return std::visit(std::forward<F>(f), store);
    }
    // The vector itself when the samples are of type T (std::bad_variant_access otherwise).
    template <class T>
    std::vector<T>& as()
    {
        return std::get<std::vector<T>>(store);
    }
    template <class T>
    const std::vector<T>& as() const
    {
        return std::get<std::vector<T>>(store);
    }

private:
    Store store;
};
