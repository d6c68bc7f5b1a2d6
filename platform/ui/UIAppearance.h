// Appearance proxies: values set at start-up on a class (optionally only inside given
// containers) and applied to views of that class as they come on screen afterwards. Values the
// application reads back (a bar item's tint, a bar's style) are read from the proxy.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/TypeName.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

class UIView;

class UIAppearanceProxy : public NSObject {
public:
    using Matcher = std::function<bool(const NSObject&)>;

    UIAppearanceProxy(std::string name, Matcher matcher, std::vector<Matcher> containers);

    std::size_t containerCount() const { return containers_.size(); }

    void setValue(const std::string& property, const Value& value);
    // Per control state (normal 0, highlighted 1, disabled 2, selected 4).
    void setValue(const std::string& property, unsigned state, const Value& value);
    Value value(const std::string& property) const;
    Value value(const std::string& property, unsigned state) const;
    bool hasValue(const std::string& property) const;
    // Property names (with "@state" for per-state values) and their values.
    Value::Dictionary values() const;

    bool matches(const NSObject& object) const { return matcher_(object); }
    // Whether `chain` (the object's containers, innermost first) holds the containers in
    // order, each further out than the one before.
    bool containedIn(const std::vector<const NSObject*>& chain) const;

private:
    std::string name_;
    Matcher matcher_;
    std::vector<Matcher> containers_;
    mutable Mutex mutex_;
    Value::Dictionary values_ GUARDED_BY(mutex_);
};

class UIAppearance {
public:
    // The proxy of class T (its subclasses included), made on first use.
    template <class T>
    static std::shared_ptr<UIAppearanceProxy> appearance() {
        return proxyFor(nameOf<T>(), {}, matcher<T>(), {});
    }
    // The proxy of T inside containers C... (views or controllers, outermost last).
    template <class T, class... C>
    static std::shared_ptr<UIAppearanceProxy> appearanceWhenContainedIn() {
        return proxyFor(nameOf<T>(), {nameOf<C>()...}, matcher<T>(), {matcher<C>()...});
    }

    // The value of `property` for `object` within `chain` (its containers, innermost first):
    // the matching proxy with the most containers wins; null when no proxy sets it.
    static Value valueFor(const NSObject& object, const std::vector<const NSObject*>& chain, const std::string& property);
    static Value valueFor(const NSObject& object, const std::string& property) { return valueFor(object, {}, property); }

    // How a property reaches a view. "tintColor" and "backgroundColor" are known already.
    using Applier = std::function<void(UIView&, const Value&)>;
    static void registerApplier(const std::string& property, Applier applier);
    // Styles the views of the tree that have not been styled yet (each view once, so values
    // set on it later win).
    static void applyToTree(const std::shared_ptr<UIView>& root);
    // Forgets every proxy (tests).
    static void reset();

private:
    template <class T>
    static UIAppearanceProxy::Matcher matcher() {
        return [](const NSObject& o) { return dynamic_cast<const T*>(&o) != nullptr; };
    }
    template <class T>
    static std::string nameOf() {
        return readableTypeName(typeid(T).name());
    }
    static std::shared_ptr<UIAppearanceProxy> proxyFor(const std::string& name, const std::vector<std::string>& containers,
                                                       UIAppearanceProxy::Matcher matcher,
                                                       std::vector<UIAppearanceProxy::Matcher> containerMatchers);
};
