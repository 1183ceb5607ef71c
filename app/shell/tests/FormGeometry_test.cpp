// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the form's geometry both front ends place their components by:
// the designed rectangles at the designed size, and how each follows a
// resized parent.
#include "app/shell/FormGeometry.h"

#include <gtest/gtest.h>

namespace {

const AnchoredComponent& Of(FormComponent component) {
    for (const AnchoredComponent& a : FormLayout)
        if (a.Component == component) return a;
    return FormLayout[0];
}

TEST(FormGeometry, ComponentsFollowTheirParentsSides) {
    struct Case {
        FormComponent component;
        int parentWidth, parentHeight;
        FormRect expected;
    };
    const Case cases[] = {
        // At the designed size every component is where it was designed.
        {FormComponent::ButtonSniff, 497, 457, {152, 6, 165, 25}},
        {FormComponent::Panel4, 497, 457, {0, 46, 497, 411}},
        {FormComponent::MemoSnif, 497, 411, {6, 6, 486, 401}},
        // Wider and taller: the button only widens, the panel and memo grow both ways.
        {FormComponent::ButtonSniff, 600, 700, {152, 6, 268, 25}},
        {FormComponent::Panel4, 600, 700, {0, 46, 600, 654}},
        {FormComponent::MemoSnif, 600, 654, {6, 6, 589, 644}},
        // Smaller than their distances: nothing goes below zero.
        {FormComponent::Panel4, 0, 10, {0, 46, 0, 0}},
        {FormComponent::MemoSnif, 5, 5, {6, 6, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlaceInParent(Of(c.component), c.parentWidth, c.parentHeight), c.expected)
            << static_cast<int>(c.component) << " in " << c.parentWidth << "x" << c.parentHeight;
    }
    // The memo's parent is the panel as designed.
    EXPECT_EQ(Of(FormComponent::MemoSnif).ParentDesignWidth, DesignOf(FormComponent::Panel4).Width);
    EXPECT_EQ(Of(FormComponent::MemoSnif).ParentDesignHeight, DesignOf(FormComponent::Panel4).Height);
}

}  // namespace
