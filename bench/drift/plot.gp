# Draws the drift benchmark's figures from its CSV files:
#   gnuplot -e "dir='DIR'" bench/drift/plot.gp
# DIR holds drift-queue.csv and drift-cases.csv (drift --csv DIR); the PNGs are written there.
if (!exists("dir")) dir = "."
set datafile separator ","
set terminal pngcairo size 1200,500 font ",11" noenhanced
set key outside right top box
set grid

target = 100
band = 7

set output dir."/drift-queue.png"
set title "Output queue, 44100 Hz, output +1000 ppm, Small blocks: both stabilizer modes"
set xlabel "time since the first blocks were released (s)"
set ylabel "queued audio (ms)"
set yrange [60:160]
plot dir."/drift-queue.csv" using 1:2 every 10 with lines lw 1 lc rgb "#d08020" title "whole frames (block mode)", \
     "" using 1:3 every 10 with lines lw 1 lc rgb "#2040c0" title "smooth mode", \
     target with lines lw 2 lc rgb "#208020" title "target (100 ms)", \
     target + band with lines dt 2 lc rgb "#60c060" title "band (+-7 ms)", \
     target - band with lines dt 2 lc rgb "#60c060" notitle

set output dir."/drift-sinad.png"
set title "SINAD of a relayed sine once settled, by output drift"
set xlabel "output drift (ppm, symmetric log scale: sign(p) log10(1 + |p|))"
set ylabel "SINAD (dB)"
set yrange [0:100]
set xtics ("-4000" -3.6, "-1000" -3.0, "-100" -2.0, "-20" -1.32, "0" 0, "20" 1.32, "100" 2.0, "1000" 3.0, "4000" 3.6)
slog(p) = (p < 0 ? -1 : 1) * log10(1 + abs(p))
sel(mode, block, rate, v) = (strcol(4) eq mode && strcol(3) eq block && $1 == rate) ? v : NaN
set key outside right top box
plot for [rate in "44100 48000"] for [block in "Small Large"] \
       dir."/drift-cases.csv" using (slog($2)):(sel("smooth", block, rate+0, $18)) with linespoints pt 7 \
       title sprintf("smooth, 1 kHz, %s Hz, %s", rate, block), \
     for [rate in "44100 48000"] for [block in "Small Large"] \
       dir."/drift-cases.csv" using (slog($2)):(sel("smooth", block, rate+0, $20)) with linespoints pt 5 dt 2 \
       title sprintf("smooth, 10 kHz, %s Hz, %s", rate, block), \
     for [rate in "44100 48000"] for [block in "Small Large"] \
       dir."/drift-cases.csv" using (slog($2)):(sel("block", block, rate+0, $18)) with points pt 6 lc rgb "#808080" \
       title sprintf("whole frames, 1 kHz, %s Hz, %s", rate, block), \
     90 with lines lw 2 lc rgb "#208020" title "1 kHz goal (90 dB)", \
     70 with lines lw 2 dt 2 lc rgb "#c02020" title "10 kHz goal (70 dB)"
