// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the main form's geometry as designed, once for both front
// ends: where the form and each component sit, and which sides a component
// keeps its distance to when its parent is resized.
#pragma once

#include <algorithm>

// A rectangle in its parent's client coordinates.
struct FormRect {
    int Left, Top, Width, Height;
    friend constexpr bool operator==(const FormRect&, const FormRect&) = default;
};

inline constexpr int FormLeft = 972;
inline constexpr int FormTop = 393;
// The client area below the menu bar; the frame is the system's.
inline constexpr int ClientDesignWidth = 497;
inline constexpr int ClientDesignHeight = 457;

enum class FormComponent { ButtonSniff, LabelFindings, Panel4, MemoSnif };

struct AnchoredComponent {
    FormComponent Component;
    FormRect Design;
    int ParentDesignWidth, ParentDesignHeight;
    bool Right;   // stretches with the parent's width
    bool Bottom;  // stretches with the parent's height
};

// Panel4 is docked to the bottom and, like the memo inside it, keeps its
// distance to all four sides; the button stretches with the width. Parents
// come before their children.
inline constexpr AnchoredComponent FormLayout[] = {
    {FormComponent::ButtonSniff, {152, 6, 165, 25}, ClientDesignWidth, ClientDesignHeight, true, false},
    // The findings' count, in the free black space left of the button.
    {FormComponent::LabelFindings, {6, 6, 140, 25}, ClientDesignWidth, ClientDesignHeight, false, false},
    {FormComponent::Panel4, {0, 46, 497, 411}, ClientDesignWidth, ClientDesignHeight, true, true},
    {FormComponent::MemoSnif, {6, 6, 486, 401}, 497, 411, true, true},
};

constexpr const FormRect& DesignOf(FormComponent component) {
    for (const AnchoredComponent& a : FormLayout)
        if (a.Component == component) return a.Design;
    return FormLayout[0].Design;
}

// The component's rectangle in a parent whose client area has this size.
constexpr FormRect PlaceInParent(const AnchoredComponent& a, int parentWidth, int parentHeight) {
    const int width = a.Right ? parentWidth - (a.ParentDesignWidth - a.Design.Width) : a.Design.Width;
    const int height = a.Bottom ? parentHeight - (a.ParentDesignHeight - a.Design.Height) : a.Design.Height;
    return {a.Design.Left, a.Design.Top, std::max(0, width), std::max(0, height)};
}
