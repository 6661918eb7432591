// The time span and completeness dialogue: first and last year, their confirmation, and
// the largest number of missing months a saved station may have.
#include "app/dialogue.hpp"
#include "app/terminal_ops.hpp"
#include "textio/convert.hpp"
#include "textio/read.hpp"
#include "textio/terminal.hpp"

namespace app {
namespace {

using textio::format_list;
using textio::item_int;
using textio::parse_format;

constexpr std::int32_t first_valid_year = 1800;
constexpr std::int32_t last_valid_year = 2020;

const format_list rule_line = parse_format("(/1x,'--------------------------------------------------------------')");
const format_list span_title = parse_format("(/1x,'Define the time span to extract.',/)");
const format_list valid_years = parse_format("(/2x,'Valid years are ',i4, '-',i4)");

const format_list year_field = parse_format("(i4)");
const format_list first_year_text = parse_format("(/,2x,'Enter the First Year Of Data you want to extract.')");
const format_list first_year_prompt = parse_format("(1x,' FYOD :> ',$)");
const format_list first_year_warning = parse_format("(/1x,'*WARNING* FYOD must be > ',i4,' and < ',i4)");
const format_list last_year_text = parse_format("(/2x,'Enter the Last Year Of Data you want to extract.')");
const format_list last_year_prompt = parse_format("(1x,' LYOD :> ',$)");
const format_list last_before_first = parse_format("(1x,'*WARNING* LYOD must be greater than',i4)");
const format_list last_year_range = parse_format("(2x,'Valid range = ',i4,'-',i4 )");
const format_list last_year_too_late = parse_format("(/2x,'Valid range = ',i4,' to ',i4)");

const format_list years_entered = parse_format("(/1x,'Values Entered are: FYOD= ',i5,' LYOD= ',i5)");
const format_list confirm_prompt = parse_format("(/1x,'Is this ok? [T]rue or [F]alse ==> ',$)");

const format_list completeness_intro[] = {
    parse_format("(/1x,'Ok, almost finished.')"),
    parse_format("(1x,'  As is stands now, given the range of years you have selected to')"),
    parse_format("(1x,'extract, there are potentially ',i6,' monthly values from each ')"),
    parse_format("(1x,'station. What is the maximum percent of missing monthly values')"),
    parse_format("(1x,'from each stations record that you will accept?  Entering a value ')"),
    parse_format("(1x,'of 0.0 (0%) will save all stations with NO missing monthly values. ')"),
    parse_format("(1x,'Entering a value of 0.25 (25%) will save only those with stations  ')"),
    parse_format("(1x,'with less than ',i3,' missing monthly values.')"),
};
constexpr int potential_months_line = 2;
constexpr int example_count_line = 7;

const format_list fraction_prompt = parse_format("(/1x,'Enter a percentage (as a real number) here ==> ',$)");
const format_list final_question =
    parse_format("(/1x,'So, reject stations with more than ',i3,' missing monthly values?')");
const format_list yes_no_prompt = parse_format("(/2x,'[1]=Yes',/,2x,'[2]=No ==> ',$)");

void read_year(std::int32_t& target) {
    const textio::in_item item = textio::target_int(target);
    textio::read_formatted(textio::terminal_input(), year_field, {&item, 1});
}

void ask_first_year(run_settings& run) {
    for (;;) {
        say(first_year_text);
        say(first_year_prompt);
        read_year(run.fyod);
        if (run.fyod >= first_valid_year && run.fyod <= last_valid_year) return;
        say(first_year_warning, {item_int(first_valid_year), item_int(last_valid_year)});
    }
}

// A wrong last year asks for the last year only.
void ask_last_year(run_settings& run) {
    for (;;) {
        say(last_year_text);
        say(last_year_prompt);
        read_year(run.lyod);
        if (run.fyod > run.lyod) {
            say(last_before_first, {item_int(run.fyod)});
            say(last_year_range, {item_int(run.fyod), item_int(last_valid_year)});
        } else if (run.lyod > last_valid_year) {
            say(last_year_too_late, {item_int(run.fyod), item_int(last_valid_year)});
        } else {
            return;
        }
    }
}

void ask_completeness(run_settings& run) {
    const std::int32_t potential_months = engine::potential_months(run.fyod, run.lyod);
    const std::int32_t example_count = textio::truncate_to_int32(static_cast<float>(potential_months) * 0.25f);
    for (int i = 0; i < static_cast<int>(std::size(completeness_intro)); ++i) {
        if (i == potential_months_line)
            say(completeness_intro[i], {item_int(potential_months)});
        else if (i == example_count_line)
            say(completeness_intro[i], {item_int(example_count)});
        else
            say(completeness_intro[i]);
    }
    say(fraction_prompt);
    answer(run.missing_fraction);
    run.max_missing = engine::missing_month_limit(potential_months, run.missing_fraction);
}

}  // namespace

void ask_time_span(run_settings& run) {
    for (;;) {
        say(rule_line);
        say(span_title);
        say(valid_years, {item_int(first_valid_year), item_int(last_valid_year)});
        ask_first_year(run);
        ask_last_year(run);
        say(years_entered, {item_int(run.fyod), item_int(run.lyod)});
        say(confirm_prompt);
        answer(run.confirm_answer);
        if (!run.confirm_answer) continue;
        ask_completeness(run);
        say(final_question, {item_int(run.max_missing)});
        say(yes_no_prompt);
        answer(run.reject_answer);
        if (run.reject_answer != 2) return;
    }
}

}  // namespace app
