#!/usr/bin/python3
"""people.py N OUT [PLANT]: N people as VESKA LDIF records (cn, mail, sn,
givenName), the same for the same N. Exactly PLANT of them (default 25) carry
the surname Smith; no other cn or mail contains "smith" in any case, so
(|(cn=*smith*)(mail=*smith*)) matches PLANT entries at every N."""
import random
import sys

FIRST = ("Ada Ben Cara Dev Eli Fay Gus Hana Ivo Jun Kai Lia Max Nia Oto Pia Quin Rae Sol Tia "
         "Uma Vik Wes Xia Yan Zoe Abel Bria Cole Dina Emil Faro Gita Hugo Ines Jori Kemi Lars Mira Noel").split()
LAST = ("Abbott Baker Castillo Dorsey Engel Fischer Garza Holm Iqbal Jansen Kowal Lindqvist Moreau "
        "Nakamura Okafor Petrov Quist Rossi Sato Tanaka Ulloa Varga Weber Xu Young Zamora Brandt Cruz "
        "Duval Ekberg Ferrari Gomez Haas Ito Jovanovic Keller Lund Mendez Novak Olsen").split()


def main():
    n, out = int(sys.argv[1]), sys.argv[2]
    plant = int(sys.argv[3]) if len(sys.argv) > 3 else 25
    rng = random.Random(7)
    planted = set(rng.sample(range(n), min(plant, n)))
    with open(out, "w") as f:
        for i in range(n):
            given = FIRST[i % len(FIRST)]
            sn = "Smith" if i in planted else LAST[(i // len(FIRST)) % len(LAST)]
            cn = "%s %s %d" % (given, sn, i)
            mail = "%s.%s.%d@example.com" % (given.lower(), sn.lower(), i)
            f.write("cn: %s\nmail: %s\nsn: %s\ngivenName: %s\n\n" % (cn, mail, sn, given))


if __name__ == "__main__":
    main()
