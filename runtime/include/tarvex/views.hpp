// SPDX-License-Identifier: GPL-3.0-or-later
// VIEW declarations for C++ programs. A view names its primary file, what it projects, and the
// files joined to it, as the 4GL writes it:
//
//     tarvex::View ClaimsOfPatient{
//         tarvex::VIEW(Invoice).PROJECT("INV:PRV, INV:PAT, INV:INV, INV:DATE")
//             .JOIN(tarvex::JOIN(Provider.Key("PRV:PRVKEY"), "INV:PRV").PROJECT("PRV:PNAME"))
//             .JOIN(tarvex::JOIN(Insured1.Key("IN1:INS1IDKEY"), "INV:PRIMARY").INNER()),
//         "INV:PAT = BRW2::Sort1:Reset:PAT:PAT"};   // declared FILTER (optional), then ORDER
//
//     FILTER(ClaimsOfPatient, "INV:PAT = 12");
//     OPEN(ClaimsOfPatient); SET(Invoice.Key("INV:PATPRVINVKEY"));
//     for (NEXT(ClaimsOfPatient); ERRORCODE() == 0; NEXT(ClaimsOfPatient)) ...
//
// JOIN(key, "parent fields") joins by the key's leading components; JOIN(file, "condition") by an
// expression. A node without PROJECT projects every field. The View builds the structure code and
// the component array once and keeps them (and its ViewDecl) where they are for its whole life.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/files.hpp"
#include "tarvex/views.h"

namespace tarvex {

// One file of a view and the files joined to it.
class ViewNode {
  public:
    ViewNode& PROJECT(std::string fields) {
        projection_ = std::move(fields);
        project_all_ = false;
        return *this;
    }
    ViewNode& INNER() {
        inner_ = true;
        return *this;
    }
    ViewNode& JOIN(ViewNode child) {
        children_.push_back(std::move(child));
        return *this;
    }

  private:
    friend ViewNode VIEW(FileRef primary);
    friend ViewNode JOIN(KeyDecl* key, std::string parent_fields);
    friend ViewNode JOIN(FileRef file, std::string condition);
    friend class View;

    FileDecl* file_ = nullptr;
    KeyDecl* key_ = nullptr;
    std::string parent_fields_;
    std::string condition_;
    bool by_condition_ = false;
    bool inner_ = false;
    bool project_all_ = true;
    std::string projection_;
    std::vector<ViewNode> children_;
};

inline ViewNode VIEW(FileRef primary) {
    ViewNode node;
    node.file_ = primary.decl;
    return node;
}
inline ViewNode JOIN(KeyDecl* key, std::string parent_fields) {
    ViewNode node;
    node.key_ = key;
    node.file_ = key != nullptr ? key->file : nullptr;
    node.parent_fields_ = std::move(parent_fields);
    return node;
}
inline ViewNode JOIN(FileRef file, std::string condition) {
    ViewNode node;
    node.file_ = file.decl;
    node.condition_ = std::move(condition);
    node.by_condition_ = true;
    return node;
}

class View {
  public:
    explicit View(ViewNode root, const char* filter = nullptr, const char* order = nullptr)
        : filter_(filter != nullptr ? filter : ""), order_(order != nullptr ? order : "") {
        Encode(root, nullptr);
        decl_.driver = VIEWDRIVER;
        decl_.structure = code_.data();
        decl_.components = components_.data();
        decl_.filter = filter != nullptr ? filter_.c_str() : nullptr;
        decl_.order = order != nullptr ? order_.c_str() : nullptr;
    }
    // A view that goes away takes this thread's instance with it, so a later declaration at the
    // same address starts clean.
    ~View() {
        int32_t error = Vrn$ERRCODE;
        Vrn$FILE_CLOSE(Decl());
        error != 0 ? Vrn$seterror(error) : Vrn$clearerror();
    }
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    ViewDecl* Block() { return &decl_; }
    // The view where a file statement expects a file: the dispatchers read only its driver entry.
    FileDecl* Decl() { return reinterpret_cast<FileDecl*>(&decl_); }
    operator FileRef() { return FileRef(Decl()); } // NOLINT: a view is used as a file
    const std::vector<uint8_t>& StructureCode() const { return code_; }

  private:
    static uint16_t FieldNumber(const FileDecl* file, std::string_view label) {
        if (file == nullptr)
            return 0;
        return static_cast<uint16_t>(
            Vrn$FieldByLabel(file->record_type, label.data(), static_cast<uint32_t>(label.size())));
    }
    static std::vector<std::string_view> Labels(std::string_view text) {
        std::vector<std::string_view> out;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find_first_of(", ", at);
            if (end == std::string_view::npos)
                end = text.size();
            if (end > at)
                out.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return out;
    }
    void Put16(uint16_t value) {
        code_.push_back(static_cast<uint8_t>(value & 0xFF));
        code_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void Encode(const ViewNode& node, const FileDecl* parent) {
        if (parent == nullptr) {
            code_.push_back(0);
            components_.push_back(node.file_);
        } else if (node.by_condition_) {
            code_.push_back(VRN_VIEW_JOIN_CONDITION);
            code_.insert(code_.end(), node.condition_.begin(), node.condition_.end());
            code_.push_back(0);
            components_.push_back(node.file_);
        } else {
            std::vector<std::string_view> fields = Labels(node.parent_fields_);
            code_.push_back(static_cast<uint8_t>(fields.size()));
            for (std::string_view field : fields)
                Put16(FieldNumber(parent, field));
            components_.push_back(node.key_);
        }
        code_.push_back(node.inner_ ? VRN_VIEW_INNER : 0);
        if (node.project_all_) {
            Put16(VRN_VIEW_PROJECT_ALL);
        } else {
            std::vector<std::string_view> fields = Labels(node.projection_);
            Put16(static_cast<uint16_t>(fields.size()));
            for (std::string_view field : fields)
                Put16(FieldNumber(node.file_, field));
        }
        code_.push_back(static_cast<uint8_t>(node.children_.size()));
        for (const ViewNode& child : node.children_)
            Encode(child, node.file_);
    }

    std::string filter_;
    std::string order_;
    std::vector<uint8_t> code_;
    std::vector<void*> components_;
    ViewDecl decl_{};
};

// View statements beyond the file statements of files.hpp.
inline void FILTER(View& view, std::string_view filter) {
    Vrn$PushString(filter.data(), static_cast<uint32_t>(filter.size()));
    Vrn$FILE_SET_PROPERTY(view.Decl(), VRN_VIEW_PROP_FILTER);
}
inline void ORDER(View& view, std::string_view order) {
    Vrn$PushString(order.data(), static_cast<uint32_t>(order.size()));
    Vrn$FILE_SET_PROPERTY(view.Decl(), VRN_VIEW_PROP_ORDER);
}
inline std::string PROP(View& view, int32_t property, int32_t index = 0) {
    Vrn$FILE_GET_PROPERTY(view.Decl(), VRN_VIEW_PROPERTY_AT(property, index));
    return files_detail::PopText();
}
// SET(view, count): start at the row whose first `count` ORDER values are those in the buffers.
inline void SET(View& view, int32_t count) {
    Vrn$VIEW_SETvl(view.Decl(), count);
}
// RESET(view, file): start at the primary file's current record.
inline void RESET(View& view, FileRef primary) {
    Vrn$VIEW_RESETvf(view.Decl(), reinterpret_cast<intptr_t>(primary.decl));
}

} // namespace tarvex
