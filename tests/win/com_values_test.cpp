// Automation values to and from the core's values.

#include "errors.h"
#include "variant_convert.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

using namespace zelto;
using namespace zelto::wintest;
using com::VariantHolder;

TEST(VariantTranslation, FromAutomationValues) {
    VARIANT inner = v(70000);
    VARIANT cy;
    VariantInit(&cy);
    V_VT(&cy) = VT_CY;
    V_CY(&cy).int64 = 25000; // 2.5
    VARIANT ui1;
    VariantInit(&ui1);
    V_VT(&ui1) = VT_UI1;
    V_UI1(&ui1) = 200;
    LONG refd = 42;
    VARIANT i4ref;
    VariantInit(&i4ref);
    V_VT(&i4ref) = VT_BYREF | VT_I4;
    V_I4REF(&i4ref) = &refd;

    // A type the core lacks is carried as it is; its number is the runtime's.
    const struct {
        const char* what;
        VARIANT in;
        Variant::Type type;
        double number;
    } rows[] = {
        {"byte", ui1, Variant::Type::Foreign, 200},
        {"currency", cy, Variant::Type::Foreign, 2.5},
        {"variable (by reference)", vRef(&inner), Variant::Type::Long, 70000},
        {"typed by reference", i4ref, Variant::Type::Long, 42},
    };
    for (const auto& row : rows) {
        const Variant got = com::fromVariant(row.in);
        EXPECT_EQ(got.type(), row.type) << row.what;
        EXPECT_EQ(got.toDouble(), row.number) << row.what;
    }
}

TEST(VariantTranslation, ValuesWithoutANumberAreTypeMismatch) {
    VARIANT dispatch;
    VariantInit(&dispatch);
    V_VT(&dispatch) = VT_DISPATCH;
    V_DISPATCH(&dispatch) = nullptr;
    VARIANT error;
    VariantInit(&error);
    V_VT(&error) = VT_ERROR;
    V_ERROR(&error) = DISP_E_PARAMNOTFOUND;
    for (const VARIANT& v : {dispatch, error}) {
        try {
            com::fromVariant(v).toLong();
            ADD_FAILURE() << "no error for type " << V_VT(&v);
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), err::TypeMismatch);
        }
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
