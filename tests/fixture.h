// fixture.h -- the handle every library test runs against, the schema
// description as tests see it, and lookup of entry points by name so that
// one test can run over every type of the schema.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lomari/lomari.h"
#include "qel/rt_control.h"
#include "schema_view.h"

namespace lt {

// An exported entry point by name, e.g. Api<void *(qel_handle_t *, uint32_t)>("which_fp", "create").
template <class F>
F *Api(const std::string &type, const std::string &op) {
    std::string n = type + "_" + op;
    void *p = dlsym(RTLD_DEFAULT, n.c_str());
    if (!p) ADD_FAILURE() << "missing entry point " << n;
    return reinterpret_cast<F *>(p);
}

// A fresh handle per test with every runtime knob at its default and all
// observations cleared.
class Lomari : public ::testing::Test {
protected:
    void SetUp() override {
        qelrt_reset();
        h = qelrt_handle_new();
        db = h->database_id;
    }
    void TearDown() override {
        qelrt_handle_free(h);
        qelrt_reset();
    }
    void Track() { qelrt_handle_set_mode(h, QEL_CHECK_TRACK); }
    void Plain() { qelrt_handle_set_mode(h, QEL_CHECK_PLAIN); }
    static uint32_t Traced(const char *needle) { return qelrt_trace_find(needle); }

    qel_handle_t *h = nullptr;
    uint32_t db = 0;
    uint32_t err = 0;
};

// Parameter sources over the schema description.
inline std::vector<const TypeDesc *> AllTypes() {
    std::vector<const TypeDesc *> v;
    for (const auto &t : kTypes) v.push_back(&t);
    return v;
}
inline std::vector<const EnumDesc *> AllEnums() {
    std::vector<const EnumDesc *> v;
    for (const auto &e : kEnums) v.push_back(&e);
    return v;
}
inline std::vector<const MessageDesc *> AllMessages() {
    std::vector<const MessageDesc *> v;
    for (const auto &m : kMessages) v.push_back(&m);
    return v;
}
struct ParamName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P> &i) const { return i.param->name; }
};

}  // namespace lt
