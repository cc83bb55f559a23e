#include "ldap/StandardMatch.h"

#include "config/AsciiText.h"

TValueTest::TValueTest(const TFilter& leaf)
    : FKind(leaf.Kind), FUpper(UpperASCII(leaf.Value))
{
    if (FKind != TFilterKind::Substrings)
        return;
    FOrdered = SubstringPartsInOrder(leaf.Parts);
    FParts.reserve(leaf.Parts.size());
    for (const TSubstringPart& part : leaf.Parts)
        FParts.push_back({part.Kind, UpperASCII(part.Text)});
}

bool TValueTest::operator()(std::string_view v) const
{
    switch (FKind) {
    case TFilterKind::Equality:
    case TFilterKind::Approx:
        return v == FUpper;
    case TFilterKind::GreaterOrEqual:
        return v >= std::string_view(FUpper);
    case TFilterKind::LessOrEqual:
        return v <= std::string_view(FUpper);
    case TFilterKind::Present:
        return true;
    case TFilterKind::Substrings: {
        if (!FOrdered)
            return false;
        std::size_t at = 0;
        std::size_t end = v.size();
        for (const TSubstringPart& part : FParts) {
            const std::string_view s = part.Text;
            switch (part.Kind) {
            case TSubstringTag::Initial:
                if (v.substr(0, s.size()) != s)
                    return false;
                at = s.size();
                break;
            case TSubstringTag::Any: {
                const std::size_t found = v.substr(0, end).find(s, at);
                if (found == std::string_view::npos)
                    return false;
                at = found + s.size();
                break;
            }
            case TSubstringTag::Final:
                // Never overlapping what the earlier parts took.
                if (s.size() > end - at || v.substr(end - s.size()) != s)
                    return false;
                end -= s.size();
                break;
            }
        }
        return true;
    }
    case TFilterKind::And:
    case TFilterKind::Or:
    case TFilterKind::Not:
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
    case TFilterKind::Invalid:
        return false;
    }
    return false;
}

bool SubstringPartsInOrder(const std::vector<TSubstringPart>& parts)
{
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].Kind == TSubstringTag::Initial && i != 0)
            return false;
        if (parts[i].Kind == TSubstringTag::Final && i + 1 != parts.size())
            return false;
    }
    return true;
}

bool IsObjectClass(std::string_view type)
{
    return SameTextASCII(type, "objectClass");
}

bool MatchStandard(const TFilter& filter, const TStandardAttributes& entry)
{
    switch (filter.Kind) {
    case TFilterKind::And:
        for (const TFilter& child : filter.Children)
            if (!MatchStandard(child, entry))
                return false;
        return true;
    case TFilterKind::Or:
        for (const TFilter& child : filter.Children)
            if (MatchStandard(child, entry))
                return true;
        return false;
    case TFilterKind::Not:
        return !MatchStandard(filter.Children.front(), entry);
    case TFilterKind::Invalid:
        filter.RaiseFault();
        return false;
    case TFilterKind::Extensible:
    case TFilterKind::Unknown:
        return false;
    case TFilterKind::Equality:
    case TFilterKind::Approx:
    case TFilterKind::GreaterOrEqual:
    case TFilterKind::LessOrEqual:
    case TFilterKind::Present:
    case TFilterKind::Substrings:
        break;
    }
    const TValueTest test(filter);
    for (const TStandardAttribute& attribute : entry) {
        if (!SameTextASCII(attribute.Type, filter.Type))
            continue;
        for (const std::string& value : attribute.Values)
            if (test(UpperASCII(value)))
                return true;
    }
    return false;
}
