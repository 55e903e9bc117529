#pragma once
#include <string>
#include <utility>
#include <variant>

#include "Engine/Model/Issues.hpp"

namespace ombry {

// The failure of the compositor and the layer hosts: the issue to report and a sentence for the log.
struct RenderError {
    IssueCode code = IssueCode::rendererFailed;
    std::string message;
    bool operator==(const RenderError&) const = default;
};

// A value or the RenderError that prevented it.
template <class T>
class RenderResult {
public:
    RenderResult(T value) : v_(std::move(value)) {}
    RenderResult(RenderError error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    const RenderError& error() const { return std::get<1>(v_); }
    T* operator->() { return &value(); }
    T& operator*() { return value(); }

private:
    std::variant<T, RenderError> v_;
};

}  // namespace ombry
