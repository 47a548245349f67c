#pragma once

#include <qpdf/QPDFObjGen.hh>

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace engine {

struct ObjGenHash {
    size_t operator()(const QPDFObjGen& og) const noexcept {
        return std::hash<int64_t>()((int64_t{og.getObj()} << 16) ^ og.getGen());
    }
};
template <typename T> using ObjGenMap = std::unordered_map<QPDFObjGen, T, ObjGenHash>;
using ObjGenSet = std::unordered_set<QPDFObjGen, ObjGenHash>;

} // namespace engine
