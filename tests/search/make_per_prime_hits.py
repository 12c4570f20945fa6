#!/usr/bin/env python3
# Writes per_prime_hits.inc: for the first COUNT primes above START, every
# (p, k index, n) with n <= 20000000 in the standard class of k and
# p | k*2^n+1, from discrete logarithms and orders of 2 computed by SymPy.
# Usage: make_per_prime_hits.py 999999999 3000 > per_prime_hits.inc
import sys
from sympy import nextprime, n_order, discrete_log
from math import gcd
K=[4847,5359,10223,19249,21181,22699,24737,27653,28433,33661,55459,67607]
A=[15,6,5,14,20,46,7,33,1,0,10,3]
M=[24,8,12,36,24,72,24,36,24,24,12,8]
NH=20000000
start=int(sys.argv[1]); count=int(sys.argv[2])
p=start
out=[]
for c in range(count):
    p=nextprime(p)
    ordr=n_order(2,p)
    for i in range(12):
        t=pow(p-K[i],-1,p)
        if pow(t,ordr,p)!=1: continue
        n0=discrete_log(p,t,2)
        n0%=ordr
        g=gcd(ordr,M[i])
        if (n0-A[i])%g: continue
        L=ordr*M[i]//g
        # find n in [0,L) with n=n0 mod ordr, n=A mod M
        n=n0
        while n%M[i]!=A[i]%M[i]: n+=ordr
        n%=L
        while n<=NH:
            out.append((p,i,n)); n+=L
print("// (p, k index, n) for every n <= 20000000 of the standard class of k with")
print("// p | k*2^n+1, for the first %d primes p from 10^9. Computed outside this" % count)
print("// project with the discrete logarithms and multiplicative orders of SymPy.")
for o in out: print("      {%d, %d, %d},"%o)
