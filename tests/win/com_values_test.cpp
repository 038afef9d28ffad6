// Automation values to and from the core's values.

#include "errors.h"
#include "test_support.h"
#include "variant_convert.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

using namespace zelto;
using namespace zelto::wintest;
using com::VariantHolder;

// A type the core lacks is carried as it is; its number is the runtime's, and one without a number
// is a type mismatch.
TEST(VariantTranslation, FromAutomationValues) {
    VARIANT inner = v(70000);
    LONG refd = 42;
    const struct {
        const char* what;
        VARIANT in;
        Variant::Type type;
        double number; // -1: no number, 13
    } rows[] = {
        {"byte", typed(VT_UI1, [](VARIANT& x) { V_UI1(&x) = 200; }), Variant::Type::Foreign, 200},
        {"currency", typed(VT_CY, [](VARIANT& x) { V_CY(&x).int64 = 25000; }),
         Variant::Type::Foreign, 2.5},
        {"variable (by reference)", vRef(&inner), Variant::Type::Long, 70000},
        {"typed by reference", typed(VT_BYREF | VT_I4, [&](VARIANT& x) { V_I4REF(&x) = &refd; }),
         Variant::Type::Long, 42},
        {"object", typed(VT_DISPATCH, [](VARIANT& x) { V_DISPATCH(&x) = nullptr; }),
         Variant::Type::Foreign, -1},
        {"error", typed(VT_ERROR, [](VARIANT& x) { V_ERROR(&x) = DISP_E_PARAMNOTFOUND; }),
         Variant::Type::Foreign, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Variant got = com::fromVariant(row.in);
        EXPECT_EQ(got.type(), row.type);
        if (row.number < 0)
            EXPECT_EQ(test::errorOf([&] { got.toLong(); }), err::TypeMismatch);
        else
            EXPECT_EQ(got.toDouble(), row.number);
    }
}

TEST(VariantTranslation, ToAutomationValuesRoundTrip) {
    const struct {
        Variant value;
        VARTYPE type;
    } rows[] = {
        {Variant(), VT_EMPTY},         {Variant::null(), VT_NULL},         {Variant(true), VT_BOOL},
        {Variant(int16_t{-3}), VT_I2}, {Variant(int32_t{1 << 20}), VT_I4}, {Variant(-0.125), VT_R8},
        {Variant(""), VT_BSTR},        {Variant("abc \xc3\xa9"), VT_BSTR}};
    for (const auto& row : rows) {
        VariantHolder out;
        com::toVariant(row.value, out.get());
        EXPECT_EQ(V_VT(out.get()), row.type) << row.type;
        EXPECT_EQ(com::fromVariant(*out.get()), row.value) << row.type;
    }
    VariantHolder t;
    com::toVariant(Variant(true), t.get());
    EXPECT_EQ(V_BOOL(t.get()), VARIANT_TRUE);
}
