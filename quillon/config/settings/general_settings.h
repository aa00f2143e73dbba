#pragma once

#include <json-c/json.h>

#include <map>
#include <memory>
#include <string>

namespace quillon
{

// Error codes of the settings records (0 is success).
enum SettingsError : int {
    kSettingsObjectMissing = 1004, // the record's object is absent or not an object
    kSettingsNothingKnown = 1005,  // no known key present
};

// Values of `source` and `target` in fromJson/toJson.
constexpr int kFromFile = 0;
constexpr int kFromApi = 1;
constexpr int kToFile = 2;
constexpr int kToApi = 3;

// Base of every settings record. A record has a JSON name (its key in the
// parent object), reads and validates itself from JSON, writes itself to
// JSON and publishes its TrackerSettingsMessage<T>. An aggregate record has
// children (ordered by name, byte-wise) and delegates to them.
//
// Records have no lock: a holder (SettingsFile) is loaded and changed by one
// thread at a time.
class GeneralSettings
{
public:
    explicit GeneralSettings(std::string name);
    virtual ~GeneralSettings();

    // Reads this record from parent[name], validates it, stores it and
    // publishes it; returns 0 or an error code. `source` is kFromFile or
    // kFromApi. `errors` is not read. For an aggregate: calls fromJson on
    // each child whose name is a key of `parent`, in name order, stopping at
    // the first failure; 1005 when no child's key is present.
    virtual int fromJson(json_object* parent, int source, json_object* errors);
    // Adds parent[name] = this record (an aggregate adds its children
    // directly to `parent`). `target` is kToFile or kToApi.
    virtual int toJson(json_object* parent, int target);
    // Posts this record's message; an aggregate publishes its children.
    virtual void publish();

    // Leaf records: reads and validates parent[name] and stores it, without
    // publishing. fromJson is readJson followed by publish() on success.
    virtual int readJson(json_object* parent, int source);
    // A copy of this record (children are shared, not copied).
    virtual std::shared_ptr<GeneralSettings> clone() const = 0;
    // Takes over the values of `other`, a record of the same type.
    virtual void assign(const GeneralSettings& other) = 0;
    // Whether a file this record cannot load is kept beside the rewritten
    // one (as "<file>.bad") instead of being lost.
    virtual bool keepsRejectedFile() const { return false; }

    const std::string& name() const { return name_; }
    const std::map<std::string, std::shared_ptr<GeneralSettings>>& children() const
    {
        return children_;
    }
    std::shared_ptr<GeneralSettings> child(const std::string& name) const;

protected:
    GeneralSettings(const GeneralSettings&) = default;
    GeneralSettings& operator=(const GeneralSettings&) = default;

    void addChild(std::shared_ptr<GeneralSettings> child);

private:
    std::string name_;
    std::map<std::string, std::shared_ptr<GeneralSettings>> children_;
};

// clone() and assign() for a concrete record type.
template <typename Derived, typename Base = GeneralSettings> class CopyableSettings : public Base
{
public:
    using Base::Base;

    std::shared_ptr<GeneralSettings> clone() const override
    {
        return std::make_shared<Derived>(static_cast<const Derived&>(*this));
    }
    void assign(const GeneralSettings& other) override
    {
        static_cast<Derived&>(*this) = dynamic_cast<const Derived&>(other);
    }
};

} // namespace quillon
