// Fields inside a stack: the power absorbed in each inner layer, and depth
// profiles of the absorbed power density and of |E|^2.
//
// Each coherent run is lit with unit amplitude from its first medium and,
// separately, from its last. The amplitudes come from Rouard's recursion
// rather than from transfer matrices: the reflection coefficient seen from
// each interface is built from the exit backwards,
//     Gamma = (r + Gamma_next)/(1 + r Gamma_next)    at a layer's far end,
//     Gamma e^{2i delta}                             at its near end,
// then the forward amplitudes from the front,
//     v_next = tau v e^{i delta} / (1 + r Gamma_next).
// Every factor has modulus at most about 1 in an absorbing layer, so an
// opaque layer makes amplitudes underflow instead of overflowing. Each layer
// keeps its forward amplitude at the end where the light enters and its
// backward amplitude at the far end, so both waves decay into the layer.
//
// Within a layer, with q = 2 pi n c / wavelength = a + ib and z from its front,
// the waves lit from the front are v e^{iqz} and w e^{iq(d - z)}, those lit
// from the back the mirror image; the runs' illuminations from the power
// transfer (incoherent/power_transfer.hpp) weight the two, which add by power.
//
// An incoherent layer absorbs the difference of the net fluxes at its two
// faces, each taken from the coherent fields of the run on that side (as
// tmm's inc_absorp_in_each_layer does), so that R, T and the absorbed
// fractions sum to 1. Its profile is that of its forward and backward fluxes,
// decaying as e^{-2bz} and e^{-2b(d - z)}; where the layer absorbs, the
// integral of that profile leaves out the interference of incident and
// reflected waves at the faces, which the intensity treatment has no phase for.
//
// |E|^2 is relative to the incident plane wave (amplitude 1); for p it is
// |c|^2 |E_f - E_b|^2 + |sin|^2 |E_f + E_b|^2, the two components in the
// plane of incidence. The absorbed density is (2 pi/wavelength) Im(n^2) |E|^2
// over the incident flux, so that its integral over a coherent layer is the
// layer's absorbed fraction.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "lab/core/point_media.hpp"
#include "lab/core/polarisation.hpp"
#include "lab/incoherent/mixed_point.hpp"
#include "lab/incoherent/power_transfer.hpp"

namespace quilmo::lab {

// Amplitudes in one medium for one way of lighting its run: the wave running
// with the light at the medium's near end, the wave running against it at its
// far end. A semi-infinite medium has both at its interface.
struct LayerWaves {
    Complex with;
    Complex against;
};

// The profile of one medium at one wavelength, per polarisation:
// |E_f +- E_b|^2 = x X + y Y +- 2 Re(z Z) with X = e^{-2bz}, Y = e^{-2b(d - z)},
// Z = e^{ia(2z - d)}; a semi-infinite medium has d = 0.
struct ProfileTerms {
    double x;
    double y;
    Complex z;
};

struct MediumProfile {
    double a, b, d;
    double density;     // (2 pi / wavelength) Im(n^2)
    double cos2, sin2;  // |cos|^2, |sin|^2 of the angle in the medium
    double across;      // e^{-2bd} = X Y of an inner layer where it is a normal number, else 0
    ProfileTerms s, p;
};

// Net flux entering a run, per unit power lighting it from its first medium
// and from its last; where that medium absorbs, the interference of the
// incident and reflected waves counts too.
struct RunIntake {
    double front;
    double back;
};

// Storage for the field routines, reused across points.
struct FieldWorkspace {
    RunsWorkspace power;
    PerPolarisation<std::vector<RunIntake>> intake;
    PerPolarisation<std::vector<RunLight<>>> runs_light;
    PerPolarisation<std::vector<SlabLight<>>> slabs_light;
    PerPolarisation<std::vector<LayerWaves>> front, back;  // per medium
    std::vector<Complex> phases;                               // e^{i delta} per inner medium
    struct Interface {
        Complex reflect;  // Gamma at the far end of the medium before it
        Complex pass;     // tau / (1 + r Gamma_next)
        Complex phase;    // e^{i delta} of the medium before it
    };
    std::vector<Interface> sweep;
    std::vector<MediumProfile> profiles;  // per medium
};

// Lights a point whose layers are all coherent with unit amplitude from the
// incidence medium (one run over the whole stack): work.front then holds each
// medium's waves and work.phases each inner layer's e^{i delta}. Returns r and
// t of the Rouard recursion, per polarisation.
PerPolarisation<Amplitudes> light_coherent(const PointMedia& point, FieldWorkspace& work);

// R, T and the absorbed fraction of each inner layer (media - 2 entries per
// polarisation), for coherent and mixed points alike.
PerPolarisation<Powers<>> absorption(const PointMedia& point, FieldWorkspace& work,
                                     const PerPolarisation<std::span<double>>& absorbed);

// The light between the runs of a point, per run (split at every incoherent
// inner medium), per unit power incident on the stack: the power arriving at
// the run from its first medium and from its last (tmm's stackFB_list), the
// forward flux at the front of the medium that ends it (V of tmm's VW_list,
// whose W is `back`), and the net flux entering that medium across the run
// (tmm's power_entering_list). At exactly grazing incidence nothing enters.
struct RunIllumination {
    double front;
    double back;
    double forward;
    double entering;
};

// Fills `out` (one entry per run, per polarisation) and returns R and T.
PerPolarisation<Powers<>> run_illumination(const PointMedia& point, FieldWorkspace& work,
                                           const PerPolarisation<std::span<RunIllumination>>& out);

// Where a depth lies: the medium, and the distance from that medium's front
// (negative in the incidence medium, from the last interface in the exit one).
struct DepthPlace {
    std::size_t medium;
    double z;
};

// Depths are measured from the first interface. A depth on an interface
// belongs to the medium behind it.
void place_depths(std::span<const double> thickness, std::span<const double> depths,
                  std::span<DepthPlace> places);

// One wavelength's row of a profile, one entry per depth.
struct ProfileRow {
    PerPolarisation<std::span<double>> density;
    PerPolarisation<std::span<double>> field;
};

void profile_row(const PointMedia& point, std::span<const DepthPlace> places, FieldWorkspace& work,
                 const ProfileRow& out);

}  // namespace quilmo::lab
