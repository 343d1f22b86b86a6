# The distributions of the paste figures, as cumulative fractions of the
# samples. Run by scripts/bench with folder set to the results' folder.
# Samples beyond a panel's range still count in its fractions.
set terminal pngcairo size 1200,520 font "DejaVu Sans,10"
set output folder."/paste-latency.png"
set multiplot layout 1,2 title "Quillory Helper: paste latency (cumulative fraction of pastes)"
set grid
set clip two
set key bottom right
set yrange [0:1]
set ylabel "fraction of pastes"

set title "Overhead beyond the fixed delays (30 ms / 90 ms)"
set xlabel "ms (logarithmic)"
set logscale x
set xrange [0.1:100]
plot folder."/paste_overhead_front_ms.txt" using 1:(1.0) smooth cnormal lw 2 title "target in front", \
     folder."/paste_overhead_reactivate_ms.txt" using 1:(1.0) smooth cnormal lw 2 title "target re-activated", \
     folder."/floor_paste_overhead_ms.txt" using 1:(1.0) smooth cnormal lw 2 dashtype 2 lc rgb "black" \
       title "floor"

# Only where the keys' arrival was timed (X11; on Wayland pastes are timed
# at their replies).
if (system("test -s '".folder."/paste_reply_after_last_key_ms.txt' && echo yes") eq "yes") {
  set title "Reply after the fourth key event at the target"
  set xlabel "ms"
  unset logscale x
  set xrange [-1:3]
  set arrow 1 from 0.5, graph 0 to 0.5, graph 1 nohead dashtype 2 lc rgb "red"
  set label 1 "target" at 0.5, graph 0.05 offset 0.5,0 textcolor rgb "red"
  plot folder."/paste_reply_after_last_key_ms.txt" using 1:(1.0) smooth cnormal lw 2 lc rgb "dark-green" title "both paths"
}
unset multiplot
